// The device's side of every PC-link conversation. The host starts each
// exchange; the device checks every unit strictly against what the host is
// meant to send, reports each departure as a violation, answers a damaged
// Packet with NAK, and injects the faults it was asked for.
//
// One exchange: host command Packet 1 and EOT (each accepted with ACK, or
// NAK), host ENQ, device reply Packet 1, host ACK, device EOT, host ACK,
// device ENQ (ready for the next command). The file services hang a data
// train in one direction onto the consent "DOK".
#pragma once

#include <string>

#include "qvemu/device_link.h"
#include "qvemu/options.h"
#include "qvemu/storage.h"

namespace qvemu {

// Whether a payload is one of the three-letter commands that open an exchange.
bool is_command_word(const Bytes& payload);

class Device {
 public:
  Device(DeviceLink& link, const Storage& storage, const Faults& faults)
      : link_(link), storage_(storage), faults_(faults) {}

  // Serves commands until the line ends the session by throwing.
  [[noreturn]] void serve();
  // Forgets the conversation of a session that ended.
  void end_session() { consented_ = Service::none; }

 private:
  enum class Service { none, read, write, list };

  Bytes receive_command();
  // The command's EOT (accepted with ACK, or NAK) and the host's ENQ.
  void close_command();
  void dispatch(const Bytes& command);
  void serve_service_request(const std::string& word, Service service);
  Bytes consent_or_refusal(const std::string& word);
  // Uses up the consent to a request of the service; a request without one
  // is reported and refused.
  bool take_consent(Service service, const std::string& request_name);
  void reply(Bytes payload);
  void announce_ready();

  // Data trains to the host (read and list services).
  void send_data_train(const std::string& tag, const Bytes& data);
  void send_until_acknowledged(int number, const Bytes& payload, bool damaged_first);
  void refuse_train(const std::string& why);
  void abandon_train();

  void serve_read_request(const Bytes& request);
  void serve_addin_probe(std::size_t capacity);
  void serve_list_request(const Bytes& request);
  void serve_write_train();
  // The number to expect of a write Packet: the one expected, or the
  // unit's own when it is sound and shows that transmissions were missed.
  int take_number_ahead(const HostUnit& unit, int expected);
  void serve_abandoned_write(const Bytes& command);

  void event(const std::string& text) { link_.trace().event(text); }
  void violation(const std::string& text) { link_.trace().violation(text); }

  DeviceLink& link_;
  const Storage& storage_;
  const Faults& faults_;
  Service consented_ = Service::none;
  bool reply_damaged_ = false;
  bool long_reply_sent_ = false;
};

}  // namespace qvemu
