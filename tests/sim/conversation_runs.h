// Internal to the simulator: the workspace where the host's and the
// device's files live while cases run, and what each run captures.
#pragma once

#include <string>

namespace sim {

// The folder of the device's storage; the host's files are in the current
// folder, which the workspace makes a folder of its own.
const std::string& device_folder();

// In a process forked from one that has a workspace: a workspace of its
// own, leaving the other one to its owner. remove_workspace removes it
// before the process leaves with _exit.
void renew_workspace();
void remove_workspace();

// The host's standard output and error, caught for one run.
class CapturedStreams {
 public:
  CapturedStreams();
  ~CapturedStreams();
  CapturedStreams(const CapturedStreams&) = delete;
  CapturedStreams& operator=(const CapturedStreams&) = delete;
  // Ends the capture; the streams are the process's own again.
  void finish();
  const std::string& output() const { return output_; }
  const std::string& errors() const { return errors_; }

 private:
  int saved_output_ = -1;
  int saved_errors_ = -1;
  std::string output_;
  std::string errors_;
};

}  // namespace sim
