// Shared by the get_file and put_file tests: the device's side of the
// opening exchange and of a read, the files, and what the host wrote.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pclink/echo.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"

namespace file_commands_test {

using scripted_port::Bytes;
using scripted_port::bytes_of;
using scripted_port::packet_bytes;

// The device's side of the opening exchange: ACK to the command Packet and
// to its EOT, "DOK" to the host's ENQ, EOT after the host's ACK, and ENQ
// (ready) after the second ACK.
inline std::vector<Bytes> consent() {
  return {{ACK}, {ACK}, packet_bytes(1, "DOK"), {EOT}, {ENQ}};
}

inline std::vector<Bytes> refusal() {
  return {{ACK}, {ACK}, packet_bytes(1, "ANG"), {EOT}, {ENQ}};
}

// A read after consent: ACK to the request and its EOT, then each data
// Packet in answer to the host's ENQ or ACK, the EOT, and the closing ENQ.
inline std::vector<Bytes> read_conversation(const std::vector<Bytes>& train) {
  std::vector<Bytes> answers = consent();
  answers.push_back({ACK});
  answers.push_back({ACK});
  for (const Bytes& unit : train) answers.push_back(unit);
  answers.push_back({EOT});
  answers.push_back({ENQ});
  return answers;
}

// A file cut into "AFV" Packets of chunk bytes, numbered from 1.
inline std::vector<Bytes> afv_train(const Bytes& file, std::size_t chunk) {
  std::vector<Bytes> train;
  for (std::size_t at = 0, number = 1; at < file.size(); at += chunk, ++number) {
    Bytes payload = bytes_of("AFV");
    std::size_t end = std::min(file.size(), at + chunk);
    payload.insert(payload.end(), file.begin() + at, file.begin() + end);
    train.push_back(packet_bytes(static_cast<int>(number), payload));
  }
  return train;
}

inline Bytes file_of(std::size_t size) {
  Bytes file(size);
  for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return file;
}

inline Bytes payload_of(const Bytes& unit) {
  return Bytes(unit.begin() + 5, unit.end() - 2);
}

// The host's Packets after the opening exchange (whose units are the
// command, EOT, ENQ, ACK, ACK).
inline std::vector<Bytes> packets_after_opening() {
  std::vector<Bytes> packets;
  const auto& units = scripted_port::written_units();
  for (std::size_t i = 5; i < units.size(); ++i) {
    if (units[i][0] == SOH) packets.push_back(units[i]);
  }
  return packets;
}

inline std::size_t count_units(std::uint8_t control) {
  std::size_t count = 0;
  for (const Bytes& unit : scripted_port::written_units()) count += unit == Bytes{control};
  return count;
}

class FileCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
  }
};

}  // namespace file_commands_test
