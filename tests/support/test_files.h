// Temporary folders and whole files, for tests that touch the host's disk.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

// Creates a new empty folder /tmp/<prefix>_XXXXXX; an empty path if that fails.
inline std::filesystem::path make_temp_folder(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

// Every byte of a file; empty when it cannot be read.
inline std::string read_whole_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names in a folder.
inline std::set<std::string> folder_entries(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Makes a fresh temporary folder the current directory for its lifetime;
// afterwards goes back to where the test was and removes the folder.
class InTempFolder {
 public:
  explicit InTempFolder(const std::string& prefix)
      : folder_(make_temp_folder(prefix)), previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder_);
  }
  ~InTempFolder() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(folder_);
  }
  InTempFolder(const InTempFolder&) = delete;
  InTempFolder& operator=(const InTempFolder&) = delete;
  const std::filesystem::path& path() const { return folder_; }

 private:
  std::filesystem::path folder_;
  std::filesystem::path previous_;
};

// Writes bytes as the whole file name.
inline void write_whole_file(const std::filesystem::path& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}
