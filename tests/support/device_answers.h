// The device's side of whole exchanges, as answers for
// scripted_port::answer_units: one answer per unit the host writes.
#pragma once

#include <string>
#include <vector>

#include "pclink/packet.h"
#include "support/scripted_port.h"

namespace device_answers {

using scripted_port::Bytes;
using Answers = std::vector<Bytes>;

inline void append(Answers& to, const Answers& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// The reply half of an exchange: the reply Packet for the host's ENQ, EOT for
// its ACK, and the ready ENQ for its second ACK.
inline Answers reply(const Bytes& payload) {
  return {scripted_port::packet_bytes(1, payload), {EOT}, {ENQ}};
}

// A command accepted (ACK to the Packet and to its EOT) and answered.
inline Answers command(const std::string& answer) {
  Answers answers = {{ACK}, {ACK}};
  append(answers, reply(scripted_port::bytes_of(answer)));
  return answers;
}

// A write train: ACK to the request and to each of the data Packets, ACK to
// the closing EOT, then the final reply.
inline Answers write_train(int data_packets, const std::string& answer) {
  Answers answers(static_cast<std::size_t>(data_packets) + 2, Bytes{ACK});
  append(answers, reply(scripted_port::bytes_of(answer)));
  return answers;
}

}  // namespace device_answers
