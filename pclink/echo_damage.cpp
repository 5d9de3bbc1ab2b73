// Weighing echo damage against the device's check.
#include "pclink/echo_damage.h"

#include "pclink/checksum16.h"

namespace {

bool check_known(const UnitCheck& check) {
  return check.length > 0 && check.summed_to + 2 == check.length;
}

}  // namespace

bool changes_could_pass(const UnitCheck& check, const EchoChange* changes, int count) {
  if (!check_known(check) || count > weighed_changes_limit) return true;
  for (int i = 0; i < count; ++i) {
    if (changes[i].place < check.summed_from || changes[i].place >= check.length) return true;
  }
  // The device takes a unit whose bytes under the sum change by as much as
  // the sum behind them does (modulo 65536).
  for (unsigned part = 1; part < (1u << count); ++part) {
    int summed_change = 0;
    int sum_field_change = 0;
    for (int i = 0; i < count; ++i) {
      if ((part & (1u << i)) == 0) continue;
      const int change = changes[i].received - changes[i].sent;
      if (changes[i].place < check.summed_to) {
        summed_change += change;
      } else {
        sum_field_change += changes[i].place == check.summed_to ? change : change * 256;
      }
    }
    if (((summed_change - sum_field_change) & 0xFFFF) == 0) return true;
  }
  return false;
}

bool insertion_could_pass(const UnitCheck& check, const std::uint8_t* echoed, int place) {
  if (!check_known(check) || place < check.summed_from) return true;
  const int summed = check.summed_to - check.summed_from;
  const std::uint16_t sum = checksum16(summed, echoed + check.summed_from);
  const int stored = echoed[check.summed_to] | echoed[check.summed_to + 1] << 8;
  return sum == stored;
}
