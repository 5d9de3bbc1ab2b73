// The checksum that closes every Packet and every relay frame.
#pragma once

#include <cstdint>

// Sum of the bytes, each 0..255, modulo 65536.
std::uint16_t checksum16(int n, const std::uint8_t* bytes);
