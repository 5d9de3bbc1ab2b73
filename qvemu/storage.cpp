#include "qvemu/storage.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qvemu {

namespace {

constexpr std::size_t longest_name = 255;

std::string path_of(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}

bool write_whole(int fd, const Bytes& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t count = ::write(fd, content.data() + done, content.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace

std::optional<std::string> unsafe_name_reason(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.size() > longest_name) return "name longer than " + std::to_string(longest_name) + " bytes";
  if (name.find("..") != std::string::npos) return "name holds \"..\"";
  if (name[0] == '.') return "name begins with \".\"";
  for (unsigned char c : name) {
    if (c == '/' || c == '\\') return "name holds a path separator";
    if (c < 0x20 || c == 0x7F) return "name holds a control byte";
  }
  return std::nullopt;
}

std::optional<Bytes> Storage::read(const std::string& name) const {
  // O_NOFOLLOW: a link planted in the folder must not lead outside it.
  const int fd = open(path_of(folder_, name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  Bytes content;
  std::uint8_t block[4096];
  for (;;) {
    const ssize_t count = ::read(fd, block, sizeof block);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    content.insert(content.end(), block, block + count);
  }
  close(fd);
  return content;
}

bool Storage::write(const std::string& name, const Bytes& content, std::string& error) const {
  if (auto reason = unsafe_name_reason(name)) {
    error = *reason;
    return false;
  }
  std::string temporary = path_of(folder_, ".qvemu-XXXXXX");
  std::vector<char> pattern(temporary.begin(), temporary.end());
  pattern.push_back('\0');
  const int fd = mkstemp(pattern.data());
  if (fd < 0) {
    error = std::string("cannot create a temporary file: ") + std::strerror(errno);
    return false;
  }
  const bool written = write_whole(fd, content);
  const bool closed = close(fd) == 0;
  // rename replaces a link of that name itself, never the file it points to.
  if (!written || !closed || rename(pattern.data(), path_of(folder_, name).c_str()) != 0) {
    error = std::string("cannot write: ") + std::strerror(errno);
    unlink(pattern.data());
    return false;
  }
  return true;
}

std::string Storage::list_text() const {
  std::vector<std::pair<std::string, long long>> files;
  if (DIR* folder = opendir(folder_.c_str())) {
    while (dirent* entry = readdir(folder)) {
      const std::string name = entry->d_name;
      if (name.empty() || name[0] == '.') continue;
      struct stat info {};
      if (lstat(path_of(folder_, name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        files.emplace_back(name, static_cast<long long>(info.st_size));
      }
    }
    closedir(folder);
  }
  std::sort(files.begin(), files.end());
  std::string text;
  for (const auto& [name, size] : files) text += name + " " + std::to_string(size) + "\r\n";
  return text;
}

std::string make_temporary_folder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qvemu-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("cannot create a temporary storage folder");
  return buffer.data();
}

}  // namespace qvemu
