// The list service: after "CFF" was consented, the list request
// "RFF" + target + NUL (no capacity, no storage prefix of its own), answered
// by a train of "AFF" Packets with the list text, or by "ANG" for a target
// the device does not know. Only the storage "S1:" is known.
#include "qvemu/device.h"

namespace qvemu {

void Device::serve_list_request(const Bytes& request) {
  if (!take_consent(Service::list, "list request")) return;
  const std::string text(request.begin(), request.end());
  if (request.size() < 4 || request.back() != 0 || text.find('\0') != request.size() - 1) {
    violation("malformed list request " + quote_payload(request));
    refuse_train("malformed list request");
    return;
  }
  const std::string target = text.substr(3, request.size() - 4);
  if (target != "S1:") {
    refuse_train("unknown list target " + quote_payload(bytes_of(target)));
    return;
  }
  const std::string list = storage_.list_text();
  event("list " + std::to_string(list.size()) + " bytes");
  send_data_train("AFF", bytes_of(list));
}

}  // namespace qvemu
