// Writes the fuzzer's seed archives into the folder named by its argument.
#include <fstream>
#include <string>
#include <vector>

#include "support/archive_writer.h"

using archive_writer::Layout;
using archive_writer::Member;

namespace {

void put(const std::string& folder, const std::string& name, const std::string& text) {
  std::ofstream(folder + "/" + name, std::ios::binary) << text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string folder = argv[1];
  put(folder, "worked_example",
      "PABAK\r\n00000000H5HPJ66K66i0OSOP00000030000\r\n\x1aPABAK\r\n789P\r\n\x1aPABAK\r\n");
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
  Layout short_lines;
  short_lines.bytes_per_line = 5;
  short_lines.line_end = "\n";
  put(folder, "three_members",
      archive_writer::archive({{"A.TXT", "abc"}, {"EMPTY", ""}, {"ALL .BIN", every_byte}}, short_lines));
  put(folder, "size_mismatch", archive_writer::archive({{"SHORT", "abcd", 5}, {"NEXT", "x"}}));
  put(folder, "unsafe_names", archive_writer::archive({{"../x", "x"}, {"/x", "x"}, {"..", "x"}, {"OK", "ok"}}));
  Layout no_ends;
  no_ends.end_lines = false;
  put(folder, "no_end_lines", archive_writer::archive({{"A", "a"}, {"B", "b"}}, no_ends));
  put(folder, "huge_declared", archive_writer::archive({{"BIG", "tiny", 0xFFFFFF}}));
  return 0;
}
