// The host program's process as the simulator stands in for it: its end
// (exit_program) stops the run instead of the process, and what a real
// process would give back to the system at its end (memory blocks, open
// files) is given back when the run stops, so that thousands of runs in one
// process leak nothing.
#pragma once

namespace sim {

// Thrown out of the host's code where the program would end its process
// (platform::end_process).
struct HostExit {
  int code;
};

// Between these, the host's memory blocks and files are noted; the end
// releases whatever the host left.
void begin_host_resources();
void end_host_resources();

}  // namespace sim
