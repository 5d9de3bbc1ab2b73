// What an interrupt's handler needs to know of the run, on every system:
// plain process-wide records that the handler may read at any moment, in a
// signal handler on POSIX and in a thread of its own on Windows.
#include "pclink/platform/process.h"

#include <cstring>

namespace platform {

volatile std::sig_atomic_t status_line_open = 0;

namespace {

// Large enough for any path the host gives; a longer one is not noted.
char temporary_file_path[4096];
volatile bool temporary_file_noted = false;

}  // namespace

void note_temporary_file(const char* path) {
  temporary_file_noted = false;
  if (path == nullptr || std::strlen(path) >= sizeof temporary_file_path) {
    return;
  }
  std::strcpy(temporary_file_path, path);
  temporary_file_noted = true;
}

const char* noted_temporary_file() {
  return temporary_file_noted ? temporary_file_path : nullptr;
}

}  // namespace platform
