// How units reach the device. The device logic speaks in whole units (one
// control byte, one Packet); a transport carries them over the line. The
// cable carries the bytes as they are; an optical relay transport carries
// each unit inside a relay frame and can stand in here without any change to
// the device logic.
#pragma once

#include "qvemu/packet_codec.h"

namespace qvemu {

class Transport {
 public:
  virtual ~Transport() = default;
  // The host's next unit; the wait for its first byte has no limit.
  virtual HostUnit receive_unit() = 0;
  // One unit to the host, exactly these bytes.
  virtual void send_unit(const Bytes& bytes) = 0;
};

}  // namespace qvemu
