// Host files on POSIX hosts: their names taken apart, and saved whole with
// exclusive creation, fsync and rename, which replaces the target in one
// step.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pclink/platform/files.h"

namespace platform {

namespace {

// Whether name stands for a descriptor this process holds (/dev/stdout,
// /dev/fd/1, /proc/self/fd/1), followed link by link: its file is the one
// the shell opened for us ("> out", ">> log"), to be written through, not
// replaced by another of the same name.
bool names_open_descriptor(const char* name) {
  std::string path = name;
  for (int hop = 0; hop < 8; ++hop) {
    if (path.rfind("/dev/fd/", 0) == 0 || (path.rfind("/proc/", 0) == 0 && path.find("/fd/") != std::string::npos)) {
      return true;
    }
    char link[4096];
    const ssize_t length = readlink(path.c_str(), link, sizeof link - 1);
    if (length <= 0) return false;
    link[length] = '\0';
    path = link[0] == '/' ? std::string(link) : path.substr(0, path.rfind('/') + 1) + link;
  }
  return false;
}

}  // namespace

std::string file_to_replace(const char* name) {
  struct stat link_info;
  if (lstat(name, &link_info) != 0) return name;  // a new file
  if (names_open_descriptor(name)) return "";
  std::string target = name;
  if (S_ISLNK(link_info.st_mode)) {
    char* resolved = realpath(name, nullptr);
    if (resolved == nullptr) return "";  // a dangling link: the open creates its file
    target = resolved;
    std::free(resolved);
  }
  struct stat info;
  if (stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "";
  // rename would replace a file this user may not write; the open refuses it.
  if (access(target.c_str(), W_OK) != 0) return "";
  return target;
}

namespace {

CreateFailure creation_failure(int error) {
  switch (error) {
    case EEXIST:
      return CreateFailure::name_taken;
    case EACCES:
    case EPERM:
    case EROFS:
      return CreateFailure::not_allowed;
    default:
      return CreateFailure::other;
  }
}

}  // namespace

std::FILE* create_new_file(const char* path, const char* model, CreateFailure& failure) {
  int descriptor = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  failure = descriptor < 0 ? creation_failure(errno) : CreateFailure::none;
  if (descriptor < 0) return nullptr;
  struct stat model_info;
  bool permissions_kept =
      stat(model, &model_info) != 0 || fchmod(descriptor, model_info.st_mode & 07777) == 0;
  std::FILE* stream = permissions_kept ? fdopen(descriptor, "wb") : nullptr;
  if (stream == nullptr) {
    failure = CreateFailure::other;
    close(descriptor);
    unlink(path);
  }
  return stream;
}

const char* path_base_name(const char* path) {
  const char* separator = std::strrchr(path, '/');
  return separator != nullptr ? separator + 1 : path;
}

bool empty_file(std::FILE* stream) {
  return std::fflush(stream) == 0 && ftruncate(fileno(stream), 0) == 0 && std::fseek(stream, 0, SEEK_SET) == 0;
}

bool sync_file(std::FILE* stream) {
  return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

// The folder is synced too: until its new entry is on the disk, a power cut
// can bring back the old file after the program said the new one was saved.
// A folder that cannot be opened or synced (a network share may refuse)
// leaves the rename done all the same: the file's own bytes are on the disk.
bool replace_file(const char* temporary, const char* target) {
  if (std::rename(temporary, target) != 0) return false;
  std::string folder = target;
  const std::size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor >= 0) {
    fsync(descriptor);
    close(descriptor);
  }
  return true;
}

}  // namespace platform
