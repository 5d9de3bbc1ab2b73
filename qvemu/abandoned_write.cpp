// A write given up before its request: after the device consented to "CFD",
// the installer may find that its host file cannot be opened, and then goes
// straight on with its next command instead of a write request. The device
// takes that Packet as the new command and serves it.
#include "qvemu/device.h"

namespace qvemu {

bool is_command_word(const Bytes& payload) {
  const std::string text(payload.begin(), payload.end());
  return text == "CFV" || text == "CFD" || text == "CFF" || text == "CLE";
}

void Device::serve_abandoned_write(const Bytes& command) {
  event("write abandoned for the command " + quote_payload(command));
  link_.send_control(ACK);
  close_command();
  dispatch(command);
}

}  // namespace qvemu
