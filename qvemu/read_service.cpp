// The read service: after "CFV" was consented, the read request
// "RFV" + capacity (24-bit little-endian) + "S1:" + name + NUL, answered by
// a train of "AFV" Packets with the file's bytes, or by "ANG".
#include "qvemu/device.h"

namespace qvemu {

namespace {

constexpr std::size_t read_request_fixed_bytes = 10;  // "RFV", capacity, "S1:", NUL
const std::string addin_probe_name = "NIFADR.BOX";

}  // namespace

void Device::serve_read_request(const Bytes& request) {
  if (!take_consent(Service::read, "read request")) return;
  const std::string text(request.begin(), request.end());
  if (request.size() < read_request_fixed_bytes || text.compare(6, 3, "S1:") != 0 || request.back() != 0 ||
      text.find('\0', 9) != request.size() - 1) {
    violation("malformed read request " + quote_payload(request));
    refuse_train("malformed read request");
    return;
  }
  const std::size_t capacity = request[3] | (request[4] << 8) | (request[5] << 16);
  const std::string name = text.substr(9, request.size() - read_request_fixed_bytes);
  if (name == addin_probe_name) {
    serve_addin_probe(capacity);
    return;
  }
  if (auto reason = unsafe_name_reason(name)) {
    violation("read request for " + quote_payload(bytes_of(name)) + ": " + *reason);
    refuse_train("unsafe name");
    return;
  }
  std::optional<Bytes> content = storage_.read(name);
  if (!content) {
    refuse_train(name + " not found");
    return;
  }
  Bytes data = *content;
  if (faults_.overrun > 0) {
    data.resize(capacity + static_cast<std::size_t>(faults_.overrun), '#');
    event("fault: overrun, " + std::to_string(data.size()) + " bytes for a capacity of " + std::to_string(capacity));
  } else if (data.size() > capacity) {
    data.resize(capacity);
    event("cut " + name + " to the capacity of " + std::to_string(capacity) + " bytes");
  }
  event("read " + name + " " + std::to_string(data.size()) + " bytes");
  send_data_train("AFV", data);
}

// The installer's probe reads "S1:NIFADR.BOX" and takes the first answer
// Packet as a reply: so the answer is always exactly one Packet, closed like
// a reply (EOT, acknowledged), even for a file that is not there.
void Device::serve_addin_probe(std::size_t capacity) {
  if (faults_.no_addin) {
    event("fault: add-in refused");
    reply(bytes_of("ANG"));
  } else {
    Bytes answer = bytes_of("AFV");
    if (std::optional<Bytes> content = storage_.read(addin_probe_name)) {
      answer.insert(answer.end(), content->begin(), content->begin() + static_cast<long>(std::min(capacity, content->size())));
    }
    event("add-in probe");
    reply(answer);
  }
  announce_ready();
}

}  // namespace qvemu
