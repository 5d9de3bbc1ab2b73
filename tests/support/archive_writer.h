// Writes device backup archives, for tests, the fuzzer's seeds and the
// benchmark: the inverse of qvunpack's reader. Header only, so that every
// one of those builds can take it without a library of its own.
//
// An archive is the directory block (6 leading bytes, then one 20-byte entry
// per member: the name padded with spaces to 12 bytes, 5 bytes the reader
// ignores, the size in 3 bytes, least significant first), then one block per
// member. Each block is data lines in the group encoding, closed by an end
// line 0x1A "PABAK". A line carries at most 767 bytes (1023 characters), a
// short group stands only at the end of a line, and no data line begins with
// "PABAK", which the reader would skip as a header.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace archive_writer {

inline const char alphabet[] = "012345ABCDEFGHIJKLMNOPQRSTUVWXYZ6789:;abcdefghijklmnopqrstuvwxyz";

// The most bytes one line can carry within 1023 characters.
constexpr int max_bytes_per_line = 767;

// The characters of one data line carrying bytes.
inline std::string encode_line(const std::string& bytes) {
  std::string line;
  std::size_t i = 0;
  auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); };
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint8_t b1 = byte(i), b2 = byte(i + 1), b3 = byte(i + 2);
    line += alphabet[b1 & 63];
    line += alphabet[b2 & 63];
    line += alphabet[b3 & 63];
    line += alphabet[((b1 >> 6) << 4) | ((b2 >> 6) << 2) | (b3 >> 6)];
  }
  if (bytes.size() - i == 1) {
    std::uint8_t b1 = byte(i);
    line += alphabet[b1 & 63];
    line += alphabet[(b1 >> 6) << 4];
  } else if (bytes.size() - i == 2) {
    std::uint8_t b1 = byte(i), b2 = byte(i + 1);
    line += alphabet[b1 & 63];
    line += alphabet[b2 & 63];
    line += alphabet[((b1 >> 6) << 4) | ((b2 >> 6) << 2)];
  }
  return line;
}

struct Layout {
  int bytes_per_line = 57;         // 1 to max_bytes_per_line
  std::string line_end = "\r\n";
  bool header_line = true;         // a "PABAK" line before the directory
  bool end_lines = true;           // close every block with 0x1A "PABAK"
};

inline std::string end_line(const Layout& layout) {
  return "\x1a" "PABAK" + layout.line_end;
}

// The data lines of a block, without its end line.
inline std::string data_lines(const std::string& bytes, const Layout& layout) {
  std::string text;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(layout.bytes_per_line), bytes.size() - at);
    std::string line = encode_line(bytes.substr(at, take));
    // A line the reader would skip as a header: its first byte goes alone
    // (two characters cannot spell "PABAK"), the rest on the next line.
    if (line.compare(0, 5, "PABAK") == 0) {
      take = 1;
      line = encode_line(bytes.substr(at, 1));
    }
    text += line + layout.line_end;
    at += take;
  }
  return text;
}

inline std::string block(const std::string& bytes, const Layout& layout) {
  return data_lines(bytes, layout) + (layout.end_lines ? end_line(layout) : "");
}

struct Member {
  std::string name;    // up to 12 bytes; padded with spaces
  std::string bytes;
  long declared = -1;  // size in the directory; -1: the real size
};

inline std::string directory_entry(const Member& member) {
  std::string entry = member.name.substr(0, 12);
  entry.resize(12, ' ');
  entry.append(5, '\0');
  long size = member.declared >= 0 ? member.declared : static_cast<long>(member.bytes.size());
  entry += static_cast<char>(size & 0xFF);
  entry += static_cast<char>((size >> 8) & 0xFF);
  entry += static_cast<char>((size >> 16) & 0xFF);
  return entry;
}

inline std::string directory(const std::vector<Member>& members) {
  std::string bytes(6, '\0');
  for (const Member& member : members) bytes += directory_entry(member);
  return bytes;
}

inline std::string archive(const std::vector<Member>& members, const Layout& layout = {}) {
  std::string text = layout.header_line ? "PABAK" + layout.line_end : "";
  text += block(directory(members), layout);
  for (const Member& member : members) text += block(member.bytes, layout);
  return text;
}

}  // namespace archive_writer
