#include "pclink/checksum16.h"

std::uint16_t checksum16(int n, const std::uint8_t* bytes) {
  std::uint16_t sum = 0;
  for (int i = 0; i < n; ++i) {
    sum = static_cast<std::uint16_t>(sum + bytes[i]);
  }
  return sum;
}
