// The write service, right after "CFD" was consented and the ready ENQ sent:
// the write request Packet "RFDS1:" + name + NUL, then data Packets "RFD" +
// at most 253 file bytes, each answered with one byte, then the host's EOT
// and ENQ, and the reply "AEX" once the file is stored.
//
// Every transmission from the host takes a fresh number, a repeat after a NAK
// included; only the installer's end-of-text Packet "RFD" 0x1A is repeated
// under the same number, so that is accepted too.
#include "qvemu/device.h"

namespace qvemu {

namespace {

const std::string write_request_prefix = "RFDS1:";
constexpr std::size_t largest_data_payload = 256;

// The host numbers every transmission, a repeat included. A device that
// did not see one of them as a Packet (its start byte lost, so that its
// bytes were read as stray bytes, or taken into another Packet whose length
// was damaged) would expect one number too few from then on and refuse
// every later Packet, repeats included, for the rest of the train. So a
// Packet that is sound in itself (complement and checksum right) and
// numbered ahead of the expected one, by no more than a run of repeats, is
// the host's latest transmission, and its number is taken. One numbered
// behind is still refused: the host never sends a number again.
constexpr int largest_number_gap = 16;

int transmissions_not_seen(const HostUnit& unit, int expected) {
  if (unit.kind != UnitKind::packet || !unit.complement_ok() || !unit.checksum_ok()) return 0;
  const int gap = (unit.number - expected) & 0xFF;
  return gap <= largest_number_gap ? gap : 0;
}

bool is_end_of_text(const Bytes& payload) {
  return payload == Bytes{'R', 'F', 'D', 0x1A};
}

// The stored name, or the reason the request cannot be served.
std::string name_of_write_request(const Bytes& request, std::string& problem) {
  const std::string text(request.begin(), request.end());
  if (text.compare(0, write_request_prefix.size(), write_request_prefix) != 0 || request.back() != 0 ||
      text.find('\0') != request.size() - 1) {
    problem = "malformed write request " + quote_payload(request);
    return {};
  }
  std::string name = text.substr(write_request_prefix.size(), request.size() - write_request_prefix.size() - 1);
  if (auto reason = unsafe_name_reason(name)) problem = "write request for " + quote_payload(bytes_of(name)) + ": " + *reason;
  return name;
}

}  // namespace

int Device::take_number_ahead(const HostUnit& unit, int expected) {
  const int gap = transmissions_not_seen(unit, expected);
  if (gap == 0) return expected;
  event("Packet " + std::to_string(unit.number) + " after " + std::to_string(gap) +
        (gap == 1 ? " transmission" : " transmissions") + " not seen whole: its number taken");
  return expected + gap;
}

void Device::serve_write_train() {
  int expected = 1;
  std::string name;
  std::string problem;
  for (bool nak_done = false;;) {
    HostUnit unit = link_.receive();
    expected = take_number_ahead(unit, expected);
    const bool sound = link_.check_packet(unit, expected, "write request Packet");
    if (unit.kind == UnitKind::control) continue;
    ++expected;
    if (!sound) {
      link_.send_control(NAK);
      continue;
    }
    if (is_command_word(unit.payload)) {
      serve_abandoned_write(unit.payload);
      return;
    }
    if (faults_.nak_request && !nak_done) {
      nak_done = true;
      event("fault: NAK write request");
      link_.send_control(NAK);
      continue;
    }
    name = name_of_write_request(unit.payload, problem);
    link_.send_control(ACK);
    break;
  }
  if (!problem.empty()) violation(problem);

  Bytes content;
  int accepted = 0;
  bool nak_data_done = false;
  int end_of_text_number = -1;  // number of a NAKed end-of-text Packet, which may come again under it
  for (;;) {
    HostUnit unit = link_.receive();
    if (unit.is_control(EOT)) break;
    const bool repeat_of_end_of_text = unit.kind == UnitKind::packet && is_end_of_text(unit.payload) &&
                                       unit.number == end_of_text_number;
    if (!repeat_of_end_of_text) expected = take_number_ahead(unit, expected);
    const bool sound = link_.check_packet(unit, repeat_of_end_of_text ? end_of_text_number : expected, "data Packet");
    if (unit.kind == UnitKind::control) continue;
    expected = (repeat_of_end_of_text ? end_of_text_number : expected) + 1;
    if (!sound) {
      link_.send_control(NAK);
      continue;
    }
    const std::string what = "data Packet " + std::to_string(accepted + 1);
    if (unit.payload.size() < 3 || unit.payload[0] != 'R' || unit.payload[1] != 'F' || unit.payload[2] != 'D') {
      violation(what + " does not begin with \"RFD\"");
    } else if (unit.payload.size() > largest_data_payload) {
      violation(what + " carries " + std::to_string(unit.payload.size() - 3) + " file bytes, at most 253 fit");
    }
    if (faults_.drop_at == accepted + 1) {
      link_.fall_silent("at " + what);
      continue;
    }
    if (faults_.nak_data == accepted + 1 && !nak_data_done) {
      nak_data_done = true;
      event("fault: NAK " + what);
      end_of_text_number = is_end_of_text(unit.payload) ? unit.number : -1;
      link_.send_control(NAK);
      continue;
    }
    link_.send_control(ACK);
    ++accepted;
    if (is_end_of_text(unit.payload)) event("end-of-text");
    if (faults_.lose_data == accepted) {
      event("fault: " + what + " not stored");
      continue;
    }
    const int copies = faults_.double_data == accepted ? 2 : 1;
    if (copies == 2) event("fault: " + what + " stored twice");
    for (int copy = 0; copy < copies && unit.payload.size() > 3; ++copy) {
      content.insert(content.end(), unit.payload.begin() + 3, unit.payload.end());
    }
  }

  for (int naks = 0; naks < faults_.nak_eot; ++naks) {
    event("fault: NAK EOT transmission " + std::to_string(naks + 1));
    link_.send_control(NAK);
    link_.expect_control(EOT, "again after the NAK");
  }
  link_.send_control(ACK);
  link_.expect_control(ENQ, "after the write train's EOT");

  Bytes answer = bytes_of("AEX");
  std::string error;
  if (!problem.empty()) {
    answer = bytes_of("ANG");
  } else if (faults_.refuse_store) {
    event("fault: refuse to store " + name);
    answer = bytes_of("ANG");
  } else if (!storage_.write(name, content, error)) {
    event("cannot store " + name + ": " + error);
    answer = bytes_of("ANG");
  } else {
    event("stored " + name + " " + std::to_string(content.size()) + " bytes");
  }
  reply(answer);
  announce_ready();
}

}  // namespace qvemu
