#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "sim/conversation_runs.h"

namespace sim {

namespace {

// Memory-backed when the system has it: every fetch saves its file with a
// sync to the disk, which a real disk would make the slowest step of a run.
std::string base_folder() {
  struct stat info {};
  if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0) return "/dev/shm";
  const char* temporary = std::getenv("TMPDIR");
  return temporary != nullptr && *temporary != '\0' ? temporary : "/tmp";
}

struct Workspace {
  std::string root;
  std::string device;
  int output_file = -1;  // where the host's standard output goes during a run
  int errors_file = -1;

  Workspace() {
    std::string pattern = base_folder() + "/qvsim-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot make the simulator's workspace");
    root = name.data();
    device = root + "/device";
    const std::string host = root + "/host";
    if (mkdir(device.c_str(), 0700) != 0 || mkdir(host.c_str(), 0700) != 0 || chdir(host.c_str()) != 0) {
      throw std::runtime_error("cannot lay out the simulator's workspace " + root);
    }
    output_file = open((root + "/stdout").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    errors_file = open((root + "/stderr").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (output_file < 0 || errors_file < 0) throw std::runtime_error("cannot make the capture files in " + root);
  }

  ~Workspace() {
    close(output_file);
    close(errors_file);
    nftw(
        root.c_str(), [](const char* path, const struct stat*, int, FTW*) { return std::remove(path); }, 8,
        FTW_DEPTH | FTW_PHYS);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
};

// The process's workspace, made at first use and removed at exit.
struct Current {
  std::unique_ptr<Workspace> space;
  ~Current() { space.reset(); }
} current;

Workspace& workspace() {
  if (!current.space) current.space = std::make_unique<Workspace>();
  return *current.space;
}

std::string take_contents(int file) {
  std::string text;
  const off_t size = lseek(file, 0, SEEK_END);
  if (size > 0) {
    text.resize(static_cast<std::size_t>(size));
    if (pread(file, text.data(), text.size(), 0) != size) text.clear();
  }
  if (ftruncate(file, 0) != 0) text += "\n(capture not emptied)";
  lseek(file, 0, SEEK_SET);
  return text;
}

}  // namespace

void renew_workspace() {
  // The old one is another process's: left alone, not removed.
  static_cast<void>(current.space.release());
  current.space = std::make_unique<Workspace>();
}

void remove_workspace() {
  current.space.reset();
}

const std::string& device_folder() {
  return workspace().device;
}

CapturedStreams::CapturedStreams() {
  Workspace& space = workspace();
  std::fflush(stdout);
  std::fflush(stderr);
  saved_output_ = dup(STDOUT_FILENO);
  saved_errors_ = dup(STDERR_FILENO);
  dup2(space.output_file, STDOUT_FILENO);
  dup2(space.errors_file, STDERR_FILENO);
}

void CapturedStreams::finish() {
  if (saved_output_ < 0) return;
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(saved_output_, STDOUT_FILENO);
  dup2(saved_errors_, STDERR_FILENO);
  close(saved_output_);
  close(saved_errors_);
  saved_output_ = saved_errors_ = -1;
  output_ = take_contents(workspace().output_file);
  errors_ = take_contents(workspace().errors_file);
}

CapturedStreams::~CapturedStreams() {
  finish();
}

}  // namespace sim
