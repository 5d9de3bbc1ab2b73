// The optical relay adapter and the device together: each unit travels as
// the payload of one relay frame, announced with an ENQ block, granted with
// a SYN block and answered with an ACK block (NAK when its checksum is
// wrong). The device's own frames are sent again from the ENQ block until
// the host acknowledges them. Every block is traced ("h"/"d" lines), and the
// host's blocks are checked strictly: the host always sends five zero bytes,
// frame number 0xFFFF and the fixed bytes, and nothing between blocks.
#pragma once

#include "qvemu/options.h"
#include "qvemu/line.h"
#include "qvemu/relay_block.h"
#include "qvemu/trace.h"
#include "qvemu/transport.h"

namespace qvemu {

// The host answers each of our blocks at once; after this long without its
// SYN or ACK block the device starts the frame again from its ENQ block.
// Generous, because a sound frame sent again would reach the host twice.
constexpr int relay_answer_timeout_ms = 3000;
// After a frame the host must refuse without a word (another kind, another
// number), the device sends again this much sooner, as a sender of the
// device's own would after its half second.
constexpr int relay_refusal_wait_ms = 500;
// Inside a block and between our SYN block and the host's frame.
constexpr int relay_byte_timeout_ms = 3000;

class RelayTransport : public Transport {
 public:
  RelayTransport(Line& line, Trace& trace, const RelayFaults& faults)
      : line_(line), trace_(trace), faults_(faults) {}
  HostUnit receive_unit() override;
  void send_unit(const Bytes& bytes) override;

 private:
  Bytes receive_frame_payload();
  bool check_host_frame(const RelayBlock& frame);
  RelayBlock read_block(int first_timeout_ms);
  void send_block(const Bytes& raw);
  FrameShape first_shape_of_frame(int frame);
  // Zero bytes before each of our blocks.
  int zeros() const;

  Line& line_;
  Trace& trace_;
  const RelayFaults& faults_;
  int host_enq_blocks_ = 0;
  int host_frames_ = 0;
  int host_bytes_ = 0;  // every byte the host sent in the run
  // The device announces its answer to a frame whose ACK block it lost, and
  // the host's ENQ block for that frame again is expected in place of SYN.
  bool answering_over_resend_ = false;
  int device_frames_ = 0;
  bool awaiting_resend_ = false;
  Bytes unacknowledged_;
};

}  // namespace qvemu
