// Shared by the tests of qvunpack's extraction loop: the fixture that runs
// it in a folder of its own and keeps what it printed.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "qvunpack/extractor.h"
#include "support/test_files.h"

namespace qvunpack_extract_test {

namespace fs = std::filesystem;

// Runs each test in an empty folder work/ inside a folder of its own, so
// that a file written outside the current directory would show up beside it.
class Extract : public ::testing::Test {
 protected:
  void SetUp() override {
    root = make_temp_folder("qv_unpack");
    ASSERT_FALSE(root.empty());
    fs::create_directory(root / "work");
    previous = fs::current_path();
    fs::current_path(root / "work");
  }
  void TearDown() override {
    fs::current_path(previous);
    // Nothing beside the archive and the working folder.
    std::set<std::string> beside = folder_entries(root);
    beside.erase("archive");
    EXPECT_EQ(beside, std::set<std::string>({"work"}));
    fs::remove_all(root);
  }

  // Runs extract_archive on the text, capturing both streams.
  ExtractResult run(const std::string& text, bool list_only = false, bool terse = false) {
    std::string name = (root / "archive").string();
    std::ofstream(name, std::ios::binary) << text;
    UnpackOptions options{name.c_str(), list_only, terse};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ExtractResult result = extract_archive(options);
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    return result;
  }

  fs::path root;
  fs::path previous;
  std::string out;
  std::string err;
};

}  // namespace qvunpack_extract_test
