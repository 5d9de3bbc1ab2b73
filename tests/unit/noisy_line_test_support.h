// Shared by the noisy line tests: a device that serves a read train unit by
// unit and damages the units it is told to, the trains it serves, and the
// fixture.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pclink/echo.h"
#include "pclink/file_commands.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "support/device_answers.h"
#include "support/scripted_port.h"

namespace noisy_line_test {

using scripted_port::Bytes;
using scripted_port::bytes_of;
using scripted_port::packet_bytes;

// The units of the opening exchange and the read request, before the train.
constexpr std::size_t units_before_train = 7;

// A device that serves a read train unit by unit, as a device does: the
// host's ENQ or ACK brings the next unit (data Packets, EOT, closing ENQ), a
// NAK brings the same unit again. The first `damaged_sends` transmissions of
// a unit listed in `damaged` go out as the bytes given there instead. A unit
// sent give_up_after times makes the device give up and fall silent.
struct TrainDevice {
  std::vector<Bytes> train;
  std::map<std::size_t, Bytes> damaged;
  int damaged_sends = 1;
  int give_up_after = 50;
  std::size_t next = 0;
  std::size_t seen_units = units_before_train;
  std::vector<int> sends;
};

inline std::shared_ptr<TrainDevice> serve_read(std::vector<Bytes> train, std::map<std::size_t, Bytes> damaged = {},
                                               int damaged_sends = 1) {
  std::vector<Bytes> opening = device_answers::command("DOK");
  opening.insert(opening.end(), {{ACK}, {ACK}});
  scripted_port::answer_units(opening);
  auto device = std::make_shared<TrainDevice>();
  device->train = std::move(train);
  device->damaged = std::move(damaged);
  device->damaged_sends = damaged_sends;
  device->sends.assign(device->train.size(), 0);
  scripted_port::on_write([device](std::uint8_t) {
    const auto& units = scripted_port::written_units();
    if (units.size() <= device->seen_units) return;
    device->seen_units = units.size();
    const Bytes& unit = units.back();
    std::size_t index = 0;
    if (unit == Bytes{NAK} && device->next > 0) {
      index = device->next - 1;
    } else if (unit == Bytes{ENQ} || unit == Bytes{ACK}) {
      index = device->next++;
    } else {
      return;
    }
    if (index >= device->train.size() || device->sends[index] == device->give_up_after) return;
    int send = ++device->sends[index];
    auto replacement = device->damaged.find(index);
    bool damage = replacement != device->damaged.end() && send <= device->damaged_sends;
    scripted_port::queue_incoming(damage ? replacement->second : device->train[index]);
  });
  return device;
}

inline Bytes file_of(std::size_t size) {
  Bytes file(size);
  for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 13 + 4);
  return file;
}

// A file as a read train of "AFV" Packets (or list Packets of another tag)
// of chunk bytes, then EOT and the device's closing ENQ.
inline std::vector<Bytes> read_train(const Bytes& file, std::size_t chunk, const char* tag = "AFV") {
  std::vector<Bytes> train;
  for (std::size_t at = 0; at < file.size(); at += chunk) {
    Bytes payload = bytes_of(tag);
    payload.insert(payload.end(), file.begin() + at, file.begin() + std::min(file.size(), at + chunk));
    train.push_back(packet_bytes(static_cast<int>(train.size() + 1), payload));
  }
  train.push_back({EOT});
  train.push_back({ENQ});
  return train;
}

inline Bytes with_byte_changed(Bytes bytes, std::size_t at, std::uint8_t flip) {
  bytes[at] ^= flip;
  return bytes;
}

class NoisyLine : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
  }

  // Fetches "F" of size bytes and expects it whole.
  static void expect_whole_fetch(const Bytes& file) {
    Bytes buffer(fetch_limit);
    ::testing::internal::CaptureStderr();
    int count = get_file(fetch_limit, buffer.data(), "F");
    std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(count, static_cast<int>(file.size())) << err;
    EXPECT_TRUE(std::equal(file.begin(), file.end(), buffer.begin()));
    EXPECT_FALSE(link_failed);
  }
};

}  // namespace noisy_line_test
