// Shared by the relay framing tests: the device's control blocks and frames
// as bytes, the adapter's side of the host's frames, and the fixture.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <vector>

#include "pclink/echo.h"
#include "pclink/relay_framing.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"
#include "support/scripted_port.h"

namespace relay_test {

using scripted_port::Bytes;

// What has reached the line by the end of the exchange: the ACK block of a
// frame taken waits to go out with our next unit, or before our next read.
inline const Bytes& line_written() {
  flush_held_line();
  return scripted_port::written();
}

inline Bytes control_block(std::uint8_t code, int zeros = 5) {
  Bytes block(zeros, 0x00);
  block.insert(block.end(), {0x96, 0x82, code});
  return block;
}

struct FrameShape {
  int zeros = 5;
  std::uint8_t kind = 0x81;
  int number = 0xFFFF;
  Bytes fixed = {0x10, 0x01, 0x40, 0xFE};  // offsets 7 and 10 to 12
  int checksum_delta = 0;
};

inline Bytes relay_frame(const Bytes& payload, const FrameShape& shape = {}) {
  Bytes frame(shape.zeros, 0x00);
  std::size_t n = payload.size();
  unsigned sum = 0;
  for (std::uint8_t b : payload) {
    sum += b;
  }
  sum = (sum + shape.checksum_delta) & 0xFFFF;
  frame.insert(frame.end(), {0x96, shape.kind, shape.fixed[0], static_cast<std::uint8_t>(shape.number & 0xFF),
                             static_cast<std::uint8_t>(shape.number >> 8), shape.fixed[1], shape.fixed[2],
                             shape.fixed[3], static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)});
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.insert(frame.end(), {static_cast<std::uint8_t>(sum & 0xFF), static_cast<std::uint8_t>(sum >> 8)});
  return frame;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// The adapter's side of the host's outgoing frames: splits what the host
// writes into relay blocks (the host always sends five zero bytes, so each
// block starts cleanly) and answers each complete block with the next
// scripted reply, or, once those are used up, with what respond makes of
// the block. An empty reply leaves the host to its time-out.
struct RelayPeer {
  Bytes pending;
  std::vector<Bytes> blocks;
  std::deque<Bytes> replies;
  std::function<Bytes(const Bytes& block)> respond;

  static bool complete(const Bytes& block) {
    if (block.size() < 8) {
      return false;
    }
    if (block[6] == 0x82) {
      return true;
    }
    if (block.size() < 15) {
      return false;
    }
    return block.size() == 17u + block[13] + 256u * block[14];
  }

  void take(std::uint8_t byte) {
    pending.push_back(byte);
    if (!complete(pending)) {
      return;
    }
    blocks.push_back(pending);
    pending.clear();
    if (!replies.empty()) {
      scripted_port::queue_incoming(replies.front());
      replies.pop_front();
    } else if (respond) {
      scripted_port::queue_incoming(respond(blocks.back()));
    }
  }

  void attach() {
    scripted_port::on_write([this](std::uint8_t byte) { take(byte); });
  }
};

class Relay : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    echo_enabled = false;
    open_port(link_mode_relay);
  }
  // A peer answering our writes lives in the test: an ACK block still held
  // for our next unit must not reach it after the test has ended.
  void TearDown() override { scripted_port::reset(); }
};

// The device announces a good frame again after each silence, times over.
inline void queue_announcements(const Bytes& unit, int times) {
  for (int i = 0; i < times; ++i) {
    scripted_port::queue_timeout();
    scripted_port::queue_timeout();
    scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame(unit)}));
  }
}

}  // namespace relay_test
