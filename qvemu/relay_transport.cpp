#include "qvemu/relay_transport.h"

namespace qvemu {

namespace {

// The adapter needs this long to turn the optical link around: a receiver
// must not grant a frame sooner after its ENQ block.
constexpr std::int64_t turnaround_us = 18000;

constexpr int short_sync_zeros = 2;
constexpr std::uint8_t foreign_kind = 0x83;
constexpr int foreign_number = 0x0001;

}  // namespace

HostUnit RelayTransport::receive_unit() {
  for (;;) {
    const Bytes payload = receive_frame_payload();
    if (payload.empty()) {
      trace_.violation("relay frame without a unit");
      continue;
    }
    HostUnit unit = unit_of_frame(payload);
    if (unit.kind == UnitKind::garbled) {
      trace_.violation("relay frame of " + std::to_string(payload.size()) + " bytes carries more than one unit");
    }
    return unit;
  }
}

Bytes RelayTransport::receive_frame_payload() {
  for (;;) {
    const RelayBlock announce = read_block(-1);
    if (!announce.is_control(relay_enq)) {
      trace_.violation("expected the relay ENQ block, got " + describe_relay_block(announce));
      continue;
    }
    if (faults_.lose_syn > 0 && ++host_enq_blocks_ == faults_.lose_syn) {
      trace_.event("fault: relay SYN block lost");
      continue;
    }
    send_block(encode_relay_control(relay_syn, zeros()));
    const RelayBlock frame = read_block(relay_byte_timeout_ms);
    if (frame.kind != BlockKind::frame) {
      trace_.violation("expected a relay frame after SYN, got " + describe_relay_block(frame));
      continue;
    }
    if (!check_host_frame(frame)) {
      send_block(encode_relay_control(relay_nak, zeros()));
      continue;
    }
    const int frame_count = ++host_frames_;
    if (frame_count == faults_.lose_ack) {
      // The frame got through but its ACK did not: the host sends it again,
      // and the device must take the unit only once.
      trace_.event("fault: relay ACK block lost");
      awaiting_resend_ = true;
      unacknowledged_ = frame.payload;
      continue;
    }
    if (frame_count == faults_.crossed_enq) {
      // As the ACK block is lost, the device goes on to announce its answer
      // at once, and holds to it while the host announces the frame again:
      // one side must give way, and it can only be the host.
      trace_.event("fault: relay ACK block lost, the answer announced over the host's resend");
      answering_over_resend_ = true;
      return frame.payload;
    }
    send_block(encode_relay_control(relay_ack, zeros()));
    if (awaiting_resend_) {
      awaiting_resend_ = false;
      if (frame.payload != unacknowledged_) {
        trace_.violation("expected the frame whose ACK was lost to come again");
      }
    }
    if (frame_count == faults_.garble && !frame.payload.empty()) {
      trace_.event("fault: relay frame taken with its first byte turned into 0x21");
      Bytes garbled = frame.payload;
      garbled[0] = 0x21;
      return garbled;
    }
    return frame.payload;
  }
}

bool RelayTransport::check_host_frame(const RelayBlock& frame) {
  if (frame.zeros != relay_sync_length) {
    trace_.violation("relay frame with " + std::to_string(frame.zeros) + " zero bytes before its mark");
  }
  if (frame.fixed != relay_fixed_byte || frame.fixed_triple != relay_fixed_triple) {
    trace_.violation("relay frame with other fixed bytes");
  }
  if (frame.number != relay_any_number) {
    trace_.violation("relay frame numbered " + std::to_string(frame.number) + ", expected 0xFFFF");
  }
  if (!frame.checksum_ok()) {
    trace_.violation("relay frame with a bad checksum");
    return false;
  }
  return true;
}

void RelayTransport::send_unit(const Bytes& bytes) {
  FrameShape shape = first_shape_of_frame(++device_frames_);
  for (;;) {
    // Taken before the write: the host may read the block's last byte and
    // begin its pause before the write returns here.
    const std::int64_t announced = line_.now_us();
    send_block(encode_relay_control(relay_enq, zeros()));
    const RelayBlock grant = read_block(relay_answer_timeout_ms);
    const std::int64_t waited_us = line_.now_us() - announced;
    if (grant.is_control(relay_syn) && waited_us < turnaround_us) {
      trace_.violation("the host granted a frame " + std::to_string(waited_us) +
                       " us after the ENQ block, sooner than 18 ms");
    }
    if (answering_over_resend_ && grant.is_control(relay_enq)) {
      trace_.event("the host announced again over the device's answer");
      continue;
    }
    if (!grant.is_control(relay_syn)) {
      if (grant.kind != BlockKind::silence) {
        trace_.violation("expected the relay SYN block, got " + describe_relay_block(grant));
      }
      continue;
    }
    answering_over_resend_ = false;
    send_block(encode_relay_frame(bytes, shape));
    const bool sound = !shape.damaged && shape.kind == relay_frame_kind && shape.number == relay_any_number;
    const bool refused_silently = shape.kind != relay_frame_kind || shape.number != relay_any_number;
    const RelayBlock answer = read_block(refused_silently ? relay_refusal_wait_ms : relay_answer_timeout_ms);
    if (answer.is_control(relay_ack)) {
      if (!sound) trace_.violation("the host acknowledged a frame it should have refused");
      return;
    }
    if (sound) {
      trace_.violation("expected the relay ACK block, got " + describe_relay_block(answer));
    } else if (shape.damaged && !answer.is_control(relay_nak)) {
      trace_.violation("expected the relay NAK block, got " + describe_relay_block(answer));
    } else if (!shape.damaged && answer.kind != BlockKind::silence) {
      trace_.violation("expected no answer to a refused frame, got " + describe_relay_block(answer));
    }
    shape = FrameShape{zeros()};
  }
}

FrameShape RelayTransport::first_shape_of_frame(int frame) {
  FrameShape shape{zeros()};
  if (frame == faults_.bad_checksum) {
    trace_.event("fault: relay frame with a bad checksum");
    shape.damaged = true;
  }
  if (frame == faults_.wrong_kind) {
    trace_.event("fault: relay frame of another kind");
    shape.kind = foreign_kind;
  }
  if (frame == faults_.wrong_number) {
    trace_.event("fault: relay frame numbered 1");
    shape.number = foreign_number;
  }
  return shape;
}

int RelayTransport::zeros() const {
  return faults_.short_sync ? short_sync_zeros : relay_sync_length;
}

RelayBlock RelayTransport::read_block(int first_timeout_ms) {
  RelayBlock block = read_relay_block(
      [this](int timeout_ms) {
        const bool damage_echo = host_bytes_ + 1 == faults_.damage_echo;
        std::optional<std::uint8_t> byte = line_.read_byte(timeout_ms, damage_echo);
        if (byte && ++host_bytes_ == faults_.damage_echo) trace_.event("fault: relay echo of a host byte damaged");
        return byte;
      },
      first_timeout_ms, relay_byte_timeout_ms);
  if (!block.skipped.empty()) {
    trace_.host_block(block.skipped, "skipped");
    trace_.violation("the host sent " + std::to_string(block.skipped.size()) + " bytes outside any relay block");
  }
  if (block.kind != BlockKind::silence) trace_.host_block(block.raw, describe_relay_block(block));
  return block;
}

void RelayTransport::send_block(const Bytes& raw) {
  RelayBlock block;
  std::size_t position = 0;
  block = read_relay_block(
      [&](int) -> std::optional<std::uint8_t> {
        if (position < raw.size()) return raw[position++];
        return std::nullopt;
      },
      0, 0);
  trace_.device_block(raw, describe_relay_block(block));
  line_.write(raw);
}

}  // namespace qvemu
