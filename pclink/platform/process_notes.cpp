// What an interrupt's handler needs to know of the run, on every system:
// plain process-wide records that the handler may read at any moment, in a
// signal handler on POSIX and in a thread of its own on Windows.
#include "pclink/platform/process.h"

#include <cstring>

namespace platform {

volatile std::sig_atomic_t status_line_open = 0;
char held_marks[held_marks_room];
volatile std::sig_atomic_t held_marks_length = 0;

namespace {

// Large enough for any path the host gives; a longer one is not noted. A
// place is in use while its flag is set, which is set only once the path
// is whole and cleared before the path changes.
struct NotedFile {
  char path[4096];
  volatile bool noted;
};
NotedFile noted_files[most_noted_temporary_files];

}  // namespace

void note_temporary_file(const char* path) {
  if (path == nullptr || std::strlen(path) >= sizeof noted_files[0].path) {
    return;
  }
  for (NotedFile& place : noted_files) {
    if (!place.noted) {
      std::strcpy(place.path, path);
      place.noted = true;
      return;
    }
  }
}

void forget_temporary_file(const char* path) {
  for (NotedFile& place : noted_files) {
    if (place.noted && (path == nullptr || std::strcmp(place.path, path) == 0)) {
      place.noted = false;
    }
  }
}

const char* noted_temporary_file(int index) {
  if (index < 0 || index >= most_noted_temporary_files || !noted_files[index].noted) {
    return nullptr;
  }
  return noted_files[index].path;
}

}  // namespace platform
