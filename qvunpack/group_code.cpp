#include "qvunpack/group_code.h"

#include <array>

namespace {

constexpr std::uint8_t no_value = 0xFF;

// Value of each character code, or no_value.
constexpr std::array<std::uint8_t, 256> make_value_table() {
  std::array<std::uint8_t, 256> table{};
  for (auto& value : table) value = no_value;
  for (int value = 0; value < 64; ++value) {
    table[static_cast<std::uint8_t>(group_characters[value])] = static_cast<std::uint8_t>(value);
  }
  return table;
}

// The same with 0 in place of no_value, for the first two characters of a
// group, which are taken as values whatever they are.
constexpr std::array<std::uint8_t, 256> make_leading_table() {
  std::array<std::uint8_t, 256> table = make_value_table();
  for (auto& value : table) {
    if (value == no_value) value = 0;
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> value_of = make_value_table();
constexpr std::array<std::uint8_t, 256> leading_value_of = make_leading_table();

// The top two bits of a group's first, second and third byte, taken from the
// value of its last character (the fourth, or the last of a short group).
constexpr std::uint8_t top_of_first(std::uint8_t x) { return static_cast<std::uint8_t>((x << 2) & 0xC0); }
constexpr std::uint8_t top_of_second(std::uint8_t x) { return static_cast<std::uint8_t>((x << 4) & 0xC0); }
constexpr std::uint8_t top_of_third(std::uint8_t x) { return static_cast<std::uint8_t>((x << 6) & 0xC0); }

std::uint8_t* store(std::uint8_t byte, std::uint8_t* destination, std::uint8_t* end) {
  if (destination >= end) return destination;
  *destination = byte;
  return destination + 1;
}

}  // namespace

std::uint8_t* decode_group(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3, std::uint8_t c4,
                           std::uint8_t* destination, std::uint8_t* end) {
  std::uint8_t x1 = leading_value_of[c1];
  std::uint8_t x2 = leading_value_of[c2];
  std::uint8_t x3 = value_of[c3];
  std::uint8_t x4 = value_of[c4];
  if (x3 == no_value) return store(static_cast<std::uint8_t>(x1 | top_of_first(x2)), destination, end);
  if (x4 == no_value) {
    destination = store(static_cast<std::uint8_t>(x1 | top_of_first(x3)), destination, end);
    return store(static_cast<std::uint8_t>(x2 | top_of_second(x3)), destination, end);
  }
  destination = store(static_cast<std::uint8_t>(x1 | top_of_first(x4)), destination, end);
  destination = store(static_cast<std::uint8_t>(x2 | top_of_second(x4)), destination, end);
  return store(static_cast<std::uint8_t>(x3 | top_of_third(x4)), destination, end);
}

std::uint8_t* decode_line(const char* line, int length, std::uint8_t* destination,
                          std::uint8_t* end) {
  const auto* c = reinterpret_cast<const std::uint8_t*>(line);
  int position = 0;
  // Full groups with room for their three bytes: four look-ups and three
  // stores each, with no per-byte test. The first short group, or the last
  // bytes of room, leave the rest to the careful loop below.
  while (length - position >= 4 && end - destination >= 3) {
    std::uint8_t x3 = value_of[c[position + 2]];
    std::uint8_t x4 = value_of[c[position + 3]];
    // Values are below 64, so only the marker has the top bit set.
    if (((x3 | x4) & 0x80) != 0) break;
    destination[0] = static_cast<std::uint8_t>(leading_value_of[c[position]] | top_of_first(x4));
    destination[1] = static_cast<std::uint8_t>(leading_value_of[c[position + 1]] | top_of_second(x4));
    destination[2] = static_cast<std::uint8_t>(x3 | top_of_third(x4));
    destination += 3;
    position += 4;
  }
  // NUL has no value, so it stands for every position past the line.
  for (; position < length; position += 4) {
    int remaining = length - position;
    destination = decode_group(c[position], remaining > 1 ? c[position + 1] : 0,
                               remaining > 2 ? c[position + 2] : 0, remaining > 3 ? c[position + 3] : 0,
                               destination, end);
  }
  return destination;
}

int line_byte_count(const char* line, int length) {
  const auto* c = reinterpret_cast<const std::uint8_t*>(line);
  int count = 0;
  for (int position = 0; position < length; position += 4) {
    int remaining = length - position;
    if (remaining < 3 || value_of[c[position + 2]] == no_value) {
      count += 1;
    } else if (remaining < 4 || value_of[c[position + 3]] == no_value) {
      count += 2;
    } else {
      count += 3;
    }
  }
  return count;
}
