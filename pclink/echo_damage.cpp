// Weighing echo damage against the device's check.
#include "pclink/echo_damage.h"

#include <vector>

#include "pclink/checksum16.h"

namespace {

bool check_known(const UnitCheck& check) {
  return check.length > 0 && check.summed_from <= check.summed_to && check.summed_to + 2 == check.length;
}

// Whether the device, given view (the unit's length of what reached it),
// takes it for a sound unit: its header as sent, its sum matching.
bool device_takes(const UnitCheck& check, const std::uint8_t* sent, const std::vector<std::uint8_t>& view) {
  for (int i = 0; i < check.summed_from; ++i) {
    if (view[static_cast<std::size_t>(i)] != sent[i]) return true;  // another header: not weighed
  }
  const int summed = check.summed_to - check.summed_from;
  const std::uint16_t sum = checksum16(summed, view.data() + check.summed_from);
  const std::size_t at = static_cast<std::size_t>(check.summed_to);
  return sum == (view[at] | view[at + 1] << 8);
}

}  // namespace

bool damage_could_pass(const UnitCheck& check, const std::uint8_t* sent, const EchoDamage& damage) {
  if (!check_known(check) || damage.change_count > weighed_changes_limit) return true;
  if (damage.added_count > 0 && damage.added_at < check.summed_from) return true;
  const int events = damage.change_count + (damage.added_count > 0 ? 1 : 0);
  const unsigned added_bit = 1u << damage.change_count;
  const std::vector<std::uint8_t> as_sent(sent, sent + check.length);
  std::vector<std::uint8_t> view;
  // Every share of the damage with at least one part on the way there.
  for (unsigned there = 1; there < (1u << events); ++there) {
    if (damage.added_on_way_there && damage.added_count > 0 && !(there & added_bit)) continue;
    std::vector<std::uint8_t> unit = as_sent;
    for (int i = 0; i < damage.change_count; ++i) {
      if (there & (1u << i)) unit[static_cast<std::size_t>(damage.changes[i].place)] = damage.changes[i].received;
    }
    view = unit;
    if (there & added_bit) {
      view.insert(view.begin() + damage.added_at, damage.added, damage.added + damage.added_count);
      view.resize(static_cast<std::size_t>(check.length));
    }
    if (view != as_sent && device_takes(check, sent, view)) return true;
  }
  return false;
}
