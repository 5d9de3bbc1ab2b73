// The group encoding of backup archive lines.
//
// Principles of operation: a data line is read in groups of four characters
// of a 64-character alphabet. A full group carries three bytes: the first
// three characters give each byte's low six bits and the fourth holds the
// top two bits of all three. The last group of a line may be short (two
// characters for one byte, three for two). Each line is decoded on its own,
// and the decoder never stores past the end it is given.
#pragma once

#include <cstdint>

// The alphabet in value order: the character for value v is
// group_characters[v]. Every other character has no value.
inline constexpr char group_characters[] = "012345ABCDEFGHIJKLMNOPQRSTUVWXYZ6789:;abcdefghijklmnopqrstuvwxyz";

// Decodes one group into destination: one byte when c3 has no value, two
// when c4 has none, three otherwise. A first or second character without a
// value (which no writer produces) counts as 0. Returns the position after
// the bytes stored; nothing is stored at or past end.
std::uint8_t* decode_group(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3, std::uint8_t c4,
                           std::uint8_t* destination, std::uint8_t* end);

// Decodes the groups of one data line of length characters. Positions past
// the line have no value, so a line whose length leaves a remainder of 1
// ends in a one-byte group made of its last character alone. Returns the
// position after the last byte stored; nothing is stored at or past end.
std::uint8_t* decode_line(const char* line, int length, std::uint8_t* destination,
                          std::uint8_t* end);

// The number of bytes decode_line would store for the line, given room.
int line_byte_count(const char* line, int length);
