// The scripted port's state, shared by its two sides: the script a test
// writes through support/scripted_port.h, and the port the library reads
// and writes through pclink/platform/port.h. Internal to the scripted port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "pclink/platform/port.h"
#include "support/scripted_port.h"

namespace scripted_port_script {

struct Incoming {
  enum class Kind { byte, timeout, failure, gap } kind;
  std::uint8_t byte;
  int error;  // for a gap: the milliseconds of silence still to pass
  bool damaged = false;  // a byte that came with a parity or framing error
};

struct Script {
  std::deque<Incoming> incoming;
  bool loopback = false;
  bool paced = true;
  std::size_t damaged_echo_index = static_cast<std::size_t>(-1);
  std::uint8_t damaged_echo_flip = 0;
  std::function<void()> silence_hook;
  std::deque<scripted_port::Bytes> answers;
  std::function<void(std::uint8_t)> hook;
  bool refuse_open = false;
  platform::OpenResult refusal{};
  int write_error = 0;
  bool open = false;
  int opens = 0;
  std::string name;
  platform::LineSettings settings{0, false};
  scripted_port::Bytes written;
  std::vector<scripted_port::Bytes> units;
  scripted_port::Bytes unit;  // the unit being written
  long long elapsed_ms = 0;
  std::vector<int> pauses;
  int reads = 0;
  std::vector<scripted_port::Bytes> writes;
};

extern Script script;

// The bytes at the end of the queue, as the device sends them.
void queue_bytes(const scripted_port::Bytes& bytes);

}  // namespace scripted_port_script
