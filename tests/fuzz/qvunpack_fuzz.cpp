// libFuzzer target: every input is an archive that qvunpack extracts.
//
// The extraction runs four folders deep inside a sandbox of its own, deeper
// than a 12-byte name can climb with "../", so that any member written
// outside the current directory shows up inside the sandbox; the file
// system's root is watched for absolute names. Either ends the run with a
// crash report.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "qvunpack/extractor.h"

namespace fs = std::filesystem;

namespace {

fs::path sandbox;
fs::path work;
fs::path archive;
std::set<fs::path> root_entries;

std::set<fs::path> tree(const fs::path& top) {
  std::set<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(top)) paths.insert(entry.path());
  return paths;
}

std::set<fs::path> listing(const fs::path& folder) {
  std::set<fs::path> paths;
  for (const auto& entry : fs::directory_iterator(folder)) paths.insert(entry.path());
  return paths;
}

std::set<fs::path> expected_sandbox;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In the folder the fuzzer was started from, which run.sh clears.
  char pattern[] = "sandbox_XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  sandbox = fs::absolute(pattern);
  work = sandbox / "1" / "2" / "3" / "work";
  fs::create_directories(work);
  fs::create_directory(sandbox / "in");
  archive = sandbox / "in" / "archive";
  std::ofstream(archive) << "";
  expected_sandbox = tree(sandbox);
  root_entries = listing("/");
  fs::current_path(work);
  // The listing is not what is being tested; keep the fuzzer's output readable.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::string name = archive.string();
  // The last byte picks listing or writing, so both paths are explored.
  bool list_only = size > 0 && (data[size - 1] & 1) != 0;
  UnpackOptions options{name.c_str(), list_only, list_only && (data[size - 1] & 2) != 0};
  extract_archive(options);

  for (const fs::path& written : listing(work)) fs::remove_all(written);
  if (tree(sandbox) != expected_sandbox) {
    std::fprintf(stderr, "a member was written outside the current directory\n");
    std::abort();
  }
  if (listing("/") != root_entries) {
    std::fprintf(stderr, "a member was written in the file system's root\n");
    std::abort();
  }
  return 0;
}
