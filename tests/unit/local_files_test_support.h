// Shared by the tests of host files read and saved: the fixture with its
// fresh folder, and bytes as text.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/test_files.h"

namespace local_files_test {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class LocalFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = make_temp_folder("qv_local_files");
    ASSERT_FALSE(folder.empty());
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string path(const char* name) const { return (folder / name).string(); }

  std::string write(const char* name, const std::string& bytes) const {
    std::string full = path(name);
    std::ofstream(full, std::ios::binary) << bytes;
    return full;
  }

  fs::path folder;
};

inline std::string as_text(const std::uint8_t* bytes, int count) {
  return {reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count)};
}

}  // namespace local_files_test
