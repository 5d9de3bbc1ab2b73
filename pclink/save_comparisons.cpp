#include "pclink/save_comparisons.h"

#include <cstring>

#include "pclink/file_saves.h"

namespace {

constexpr std::size_t block_size = 4096;

// Up to three reads of the save, each opened to read from its start, and
// closed again when done with.
class Readers {
 public:
  Readers(std::FILE* const* streams, int count) : count_(count) {
    for (int i = 0; i < count_; ++i) {
      files_[i] = open_save_reader(streams[i], opened_[i]);
      all_open_ = all_open_ && files_[i] != nullptr;
    }
  }
  ~Readers() {
    for (int i = 0; i < count_; ++i) close_save_reader(files_[i], opened_[i]);
  }
  Readers(const Readers&) = delete;
  Readers& operator=(const Readers&) = delete;

  bool all_open() const { return all_open_; }
  // Reads the next block of each into blocks; false when their lengths
  // differ or one cannot be read. got: the bytes each holds (0 at the end).
  bool next(char (*blocks)[block_size], std::size_t& got) {
    got = std::fread(blocks[0], 1, block_size, files_[0]);
    for (int i = 1; i < count_; ++i) {
      if (std::fread(blocks[i], 1, block_size, files_[i]) != got) return false;
    }
    for (int i = 0; i < count_; ++i) {
      if (std::ferror(files_[i]) != 0) return false;
    }
    return true;
  }

 private:
  int count_;
  std::FILE* files_[3] = {};
  bool opened_[3] = {};
  bool all_open_ = true;
};

}  // namespace

bool same_bytes(std::FILE* one, std::FILE* other) {
  std::FILE* const streams[] = {one, other};
  Readers reads(streams, 2);
  if (!reads.all_open()) return false;
  char blocks[2][block_size];
  for (std::size_t got = block_size; got == block_size;) {
    if (!reads.next(blocks, got) || std::memcmp(blocks[0], blocks[1], got) != 0) return false;
  }
  return true;
}

bool write_majority(std::FILE* first, std::FILE* second, std::FILE* third, std::FILE* out) {
  std::FILE* const streams[] = {first, second, third};
  Readers reads(streams, 3);
  if (!reads.all_open()) return false;
  char blocks[3][block_size];
  char agreed[block_size];
  for (std::size_t got = block_size; got == block_size;) {
    if (!reads.next(blocks, got)) return false;
    for (std::size_t i = 0; i < got; ++i) {
      const char a = blocks[0][i];
      const char b = blocks[1][i];
      const char c = blocks[2][i];
      if (a == b || a == c) {
        agreed[i] = a;
      } else if (b == c) {
        agreed[i] = b;
      } else {
        return false;
      }
    }
    if (std::fwrite(agreed, 1, got, out) != got) return false;
  }
  return std::fflush(out) == 0;
}
