#include "qvemu/device.h"

#include <algorithm>

namespace qvemu {

namespace {

constexpr std::size_t long_packet_length = 5000;

std::string command_word(const Bytes& command) {
  return std::string(command.begin(), command.begin() + static_cast<long>(std::min<std::size_t>(3, command.size())));
}

}  // namespace

void Device::serve() {
  for (;;) dispatch(receive_command());
}

Bytes Device::receive_command() {
  Bytes command;
  for (int naks = 0;;) {
    HostUnit unit = link_.receive();
    if (!link_.check_packet(unit, 1, "command Packet")) {
      if (unit.kind != UnitKind::control) link_.send_control(NAK);
      continue;
    }
    if (naks < faults_.nak_command) {
      ++naks;
      event("fault: NAK command transmission " + std::to_string(naks));
      link_.send_control(NAK);
      continue;
    }
    command = unit.payload;
    link_.send_control(ACK);
    break;
  }
  close_command();
  return command;
}

void Device::close_command() {
  for (int naks = 0;;) {
    HostUnit unit = link_.receive();
    if (!unit.is_control(EOT)) {
      link_.report_unexpected(unit, "EOT after the command Packet");
      continue;
    }
    if (naks < faults_.nak_eot) {
      ++naks;
      event("fault: NAK EOT transmission " + std::to_string(naks));
      link_.send_control(NAK);
      continue;
    }
    link_.send_control(ACK);
    break;
  }
  link_.expect_control(ENQ, "after the command's EOT");
}

void Device::dispatch(const Bytes& command) {
  const std::string word = command_word(command);
  if (word == "CLE" || word == "CFV" || word == "CFD" || word == "CFF") {
    if (command.size() != 3) {
      violation("command \"" + word + "\" carries " + std::to_string(command.size()) + " bytes, expected 3");
    }
  }
  if (word == "CLE") {
    consented_ = Service::none;
    const Bytes answer = consent_or_refusal(word);
    if (answer == bytes_of("DOK")) event("reset");
    reply(answer);
    announce_ready();
  } else if (word == "CFV") {
    serve_service_request(word, Service::read);
  } else if (word == "CFF") {
    serve_service_request(word, Service::list);
  } else if (word == "CFD") {
    serve_service_request(word, Service::write);
  } else if (word == "RFV") {
    serve_read_request(command);
  } else if (word == "RFF") {
    serve_list_request(command);
  } else {
    violation("unknown command " + quote_payload(command));
    reply(bytes_of("ANG"));
    announce_ready();
  }
}

void Device::serve_service_request(const std::string& word, Service service) {
  const Bytes answer = consent_or_refusal(word);
  consented_ = answer == bytes_of("DOK") ? service : Service::none;
  reply(answer);
  announce_ready();
  // The write service goes on at once with the host's request Packet; the
  // others wait for a request command of their own.
  if (consented_ == Service::write) {
    consented_ = Service::none;
    serve_write_train();
  }
}

Bytes Device::consent_or_refusal(const std::string& word) {
  if (faults_.refuse) {
    event("fault: refuse \"" + word + "\"");
    return bytes_of("ANG");
  }
  return bytes_of("DOK");
}

bool Device::take_consent(Service service, const std::string& request_name) {
  const bool consented = consented_ == service;
  consented_ = Service::none;
  if (!consented) {
    violation(request_name + " without a consented service command");
    refuse_train("no consent");
  }
  return consented;
}

void Device::reply(Bytes payload) {
  if (faults_.long_reply && !long_reply_sent_) {
    long_reply_sent_ = true;
    payload.resize(long_packet_length, '#');
    event("fault: long reply of " + std::to_string(payload.size()) + " bytes");
  }
  const bool damaged = faults_.damage_reply && !reply_damaged_;
  if (damaged) {
    reply_damaged_ = true;
    event("fault: damaged reply");
  }
  // A reply that reached the host damaged is NAKed and goes again.
  for (bool first = true;; first = false) {
    link_.send_packet(1, payload, damaged && first);
    if (link_.acknowledged("after the reply Packet")) break;
  }
  if (faults_.can_for_eot) {
    event("fault: CAN instead of the reply's EOT");
    link_.send_control(CAN);
  } else {
    link_.send_control(EOT);
  }
  link_.expect_control(ACK, "after the reply's EOT");
}

void Device::announce_ready() {
  if (faults_.can_for_enq) {
    event("fault: CAN instead of the ready ENQ");
    link_.send_control(CAN);
  } else {
    link_.send_control(ENQ);
  }
}

}  // namespace qvemu
