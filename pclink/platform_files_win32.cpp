// Host files on Windows: their names taken apart, and saved whole with
// exclusive creation, _commit and MoveFileExA, since a plain rename refuses
// to replace an existing file.
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "pclink/platform.h"

namespace platform {

std::string file_to_replace(const char* name) {
  // Devices such as CON and NUL open like files; only a disk file can be
  // replaced. A folder does not open without backup semantics, so it is
  // written in place, where the open refuses it as always.
  HANDLE file = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? std::string(name) : std::string();
  }
  DWORD type = GetFileType(file);
  CloseHandle(file);
  if (type != FILE_TYPE_DISK) return "";
  // A file marked read-only is refused by the open as always.
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) != 0) return "";
  return name;
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

const char* path_base_name(const char* path) {
  const bool drive = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':';
  const char* base = drive ? path + 2 : path;
  for (const char* at = base; *at != '\0'; ++at) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*at)) && at[1] != '\0') {
      ++at;  // the second byte of the character, whatever its value
    } else if (*at == '/' || *at == '\\') {
      base = at + 1;
    }
  }
  return base;
}

bool sync_file(std::FILE* stream) {
  return std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0;
}

bool replace_file(const char* temporary, const char* target) {
  return MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace platform
