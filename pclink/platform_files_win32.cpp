// Host files saved whole on Windows: exclusive creation, _commit and
// MoveFileExA, since a plain rename refuses to replace an existing file.
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "pclink/platform.h"

namespace platform {

std::string file_to_replace(const char* name) {
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return name;  // a new file
    return "";
  }
  // A folder, or a file marked read-only, is refused by the open as always.
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return "";
  // Devices such as CON and NUL answer with attributes too; only a disk file
  // can be replaced.
  HANDLE file = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  DWORD type = GetFileType(file);
  CloseHandle(file);
  return type == FILE_TYPE_DISK ? std::string(name) : std::string();
}

// The folder's own permissions serve the new file; model is not needed.
std::FILE* create_new_file(const char* path, const char*, bool& path_taken) {
  int descriptor = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  path_taken = descriptor < 0 && errno == EEXIST;
  if (descriptor < 0) return nullptr;
  std::FILE* stream = _fdopen(descriptor, "wb");
  if (stream == nullptr) {
    _close(descriptor);
    DeleteFileA(path);
  }
  return stream;
}

bool sync_file(std::FILE* stream) {
  return std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0;
}

bool replace_file(const char* temporary, const char* target) {
  return MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace platform
