// Data trains from the device to the host (read and list services): Packets
// numbered from 1, each acknowledged by the host (a NAK asks for it again),
// then EOT, acknowledged, then the ready ENQ.
#include "qvemu/device.h"

#include <algorithm>

namespace qvemu {

namespace {

// File bytes in one data Packet behind the three-letter tag.
constexpr std::size_t packet_data_bytes = 253;
constexpr std::size_t long_packet_data_bytes = 4997;

std::vector<Bytes> split_into_packets(const std::string& tag, const Bytes& data, bool long_first) {
  std::vector<Bytes> payloads;
  std::size_t offset = 0;
  Bytes padded = data;
  if (long_first && padded.size() < long_packet_data_bytes) padded.resize(long_packet_data_bytes, '#');
  while (offset < padded.size()) {
    const std::size_t limit = payloads.empty() && long_first ? long_packet_data_bytes : packet_data_bytes;
    const std::size_t count = std::min(limit, padded.size() - offset);
    Bytes payload = bytes_of(tag);
    payload.insert(payload.end(), padded.begin() + static_cast<long>(offset),
                   padded.begin() + static_cast<long>(offset + count));
    payloads.push_back(std::move(payload));
    offset += count;
  }
  return payloads;
}

}  // namespace

void Device::send_data_train(const std::string& tag, const Bytes& data) {
  if (faults_.long_data) event("fault: long data Packet of " + std::to_string(3 + long_packet_data_bytes) + " bytes");
  const std::vector<Bytes> payloads = split_into_packets(tag, data, faults_.long_data);
  for (std::size_t index = 0; index < payloads.size(); ++index) {
    const int number = static_cast<int>(index) + 1;
    if (faults_.drop_at == number) {
      link_.fall_silent("at data Packet " + std::to_string(number));
      return;
    }
    if (faults_.ang_at == number) {
      event("fault: ANG in place of data Packet " + std::to_string(number));
      send_until_acknowledged(number, bytes_of("ANG"), false);
      abandon_train();
      return;
    }
    Bytes payload = payloads[index];
    const bool wrong_tag = faults_.wrong_tag == number;
    if (wrong_tag) {
      event("fault: tag \"XYZ\" on data Packet " + std::to_string(number));
      std::copy_n("XYZ", 3, payload.begin());
    }
    send_until_acknowledged(number, payload, faults_.damage_data == number);
    // A host that meets a strange tag gives the train up; so does the device.
    if (wrong_tag) {
      abandon_train();
      return;
    }
  }
  link_.send_control(EOT);
  link_.expect_control(ACK, "after the data train's EOT");
  announce_ready();
}

void Device::send_until_acknowledged(int number, const Bytes& payload, bool damaged_first) {
  bool damaged = damaged_first;
  if (damaged) event("fault: damaged data Packet " + std::to_string(number));
  for (;;) {
    link_.send_packet(number, payload, damaged);
    if (link_.acknowledged("after data Packet " + std::to_string(number))) return;
    if (!damaged) violation("NAK to the sound data Packet " + std::to_string(number));
    damaged = false;
  }
}

// The host answers a refusal with ACK and stops listening for the train: it
// goes straight to waiting for the ready ENQ, passing over the EOT.
void Device::refuse_train(const std::string& why) {
  event("refused: " + why);
  send_until_acknowledged(1, bytes_of("ANG"), false);
  abandon_train();
}

void Device::abandon_train() {
  link_.send_control(EOT);
  announce_ready();
}

}  // namespace qvemu
