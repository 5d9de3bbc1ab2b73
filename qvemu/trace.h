// The emulator's log of the line: one line per unit in each direction, the
// host's protocol violations and the device's own events. End-to-end tests
// read it to check the exact bytes, so the format is fixed:
//   H <hex bytes> | <decoded>     a unit the host sent, bytes as received
//   D <hex bytes> | <decoded>     a unit the device sent (echo not included)
//   ! <text>                      a protocol violation by the host
//   = <text>                      an event of the device
// With the optical relay (--relay) the blocks that carry the units are
// logged too, in lower case:
//   h <hex bytes> | <decoded>     a relay block (or stray bytes) from the host
//   d <hex bytes> | <decoded>     a relay block the device sent
#pragma once

#include <cstdio>
#include <string>

#include "qvemu/packet_codec.h"

namespace qvemu {

class Trace {
 public:
  // An empty path keeps no file; violations still go to standard error.
  explicit Trace(const std::string& path);
  // Keeps the lines in memory (lines()) and leaves standard error alone:
  // for a simulator that runs many sessions in one process and shows the
  // trace of only the one that went wrong.
  struct InMemory {};
  explicit Trace(InMemory);
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  bool opened() const { return file_ != nullptr || path_.empty(); }
  // The lines kept in memory, each ending in a newline.
  const std::string& lines() const { return memory_; }

  void host_unit(const Bytes& raw, const std::string& decoded);
  void device_unit(const Bytes& raw, const std::string& decoded);
  void host_block(const Bytes& raw, const std::string& decoded);
  void device_block(const Bytes& raw, const std::string& decoded);
  void violation(const std::string& text);
  void event(const std::string& text);

 private:
  void write_line(const std::string& line);

  std::string path_;
  std::FILE* file_ = nullptr;
  bool in_memory_ = false;
  std::string memory_;
};

}  // namespace qvemu
