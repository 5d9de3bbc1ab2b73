// Writes a backup archive of about the asked size (in MiB) for the decoding
// benchmark: members of 12 MiB of varied bytes, in the longest lines the
// format allows.   usage: make_bench_archive <file> <MiB>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/archive_writer.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const long long target = std::atoll(argv[2]) << 20;
  const std::size_t member_size = 12u << 20;
  archive_writer::Layout layout;
  layout.bytes_per_line = 765;  // 1020 characters: full groups only
  // Each member's text is about 4/3 of its bytes, plus the line ends.
  const double text_per_byte = (1020.0 + 2.0) / 765.0;
  std::vector<archive_writer::Member> members;
  std::uint32_t state = 12345;
  long long text = 0;
  while (text < target) {
    std::size_t size = member_size;
    long long left = target - text;
    if (left < static_cast<long long>(member_size * text_per_byte)) size = static_cast<std::size_t>(left / text_per_byte);
    std::string bytes(size, '\0');
    for (char& b : bytes) {
      state = state * 1664525u + 1013904223u;
      b = static_cast<char>(state >> 24);
    }
    members.push_back({"BENCH" + std::to_string(members.size()) + ".BIN", std::move(bytes)});
    text += static_cast<long long>(size * text_per_byte) + 16;
  }
  std::ofstream(argv[1], std::ios::binary) << archive_writer::archive(members, layout);
  return 0;
}
