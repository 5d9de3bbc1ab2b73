// Host files on Windows: their names taken apart, and saved whole with
// exclusive creation, _commit and MoveFileExA, since a plain rename refuses
// to replace an existing file.
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "pclink/platform/files.h"

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

namespace {

CreateFailure creation_failure(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return CreateFailure::name_taken;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return CreateFailure::not_allowed;
    default:
      return CreateFailure::other;
  }
}

}  // namespace

// The folder's own permissions serve the new file; model is not needed.
// Delete sharing lets the interrupt handler, which runs in a thread of its
// own while this one may be writing, delete the file by name: the delete
// takes effect when the ending process closes the handle.
std::FILE* create_new_file(const char* path, const char*, CreateFailure& failure) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    failure = creation_failure(GetLastError());
    return nullptr;
  }
  failure = CreateFailure::none;
  int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_BINARY);
  std::FILE* stream = descriptor >= 0 ? _fdopen(descriptor, "wb") : nullptr;
  if (stream == nullptr) {
    failure = CreateFailure::other;
    if (descriptor >= 0) {
      _close(descriptor);  // closes the handle too
    } else {
      CloseHandle(file);
    }
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

bool empty_file(std::FILE* stream) {
  // A pipe or a console has no size to set and refuses.
  return std::fflush(stream) == 0 && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) ==
                                         FILE_TYPE_DISK &&
         _chsize_s(_fileno(stream), 0) == 0 && std::fseek(stream, 0, SEEK_SET) == 0;
}

bool sync_file(std::FILE* stream) {
  return std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0;
}

bool replace_file(const char* temporary, const char* target) {
  return MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace platform
