// The host on a noisy line: a damaged unit is drained and answered once, a
// damaged echo does not derail the exchange, a train ends only at the
// device's own end, and no handshake repeats for ever.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pclink/answers.h"
#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/echo.h"
#include "pclink/file_commands.h"
#include "pclink/host_file_fetches.h"
#include "pclink/host_file_transfers.h"
#include "pclink/line_timing.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/relay.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"
#include "qvdir/device_list.h"
#include "qvinstall/addin_conversation.h"
#include "qvinstall/settings.h"
#include "support/device_answers.h"
#include "support/scripted_port.h"
#include "support/test_files.h"

namespace {

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

std::shared_ptr<TrainDevice> serve_read(std::vector<Bytes> train, std::map<std::size_t, Bytes> damaged = {},
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

Bytes file_of(std::size_t size) {
  Bytes file(size);
  for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 13 + 4);
  return file;
}

// A file as a read train of "AFV" Packets (or list Packets of another tag)
// of chunk bytes, then EOT and the device's closing ENQ.
std::vector<Bytes> read_train(const Bytes& file, std::size_t chunk, const char* tag = "AFV") {
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

Bytes with_byte_changed(Bytes bytes, std::size_t at, std::uint8_t flip) {
  bytes[at] ^= flip;
  return bytes;
}

std::size_t host_naks() {
  std::size_t count = 0;
  for (const Bytes& unit : scripted_port::written_units()) count += unit == Bytes{NAK};
  return count;
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

// One damaged Packet, whatever field the damage hit, is drained, answered by
// one NAK and received again; no byte of it passes for the device's EOT.
TEST_F(NoisyLine, ADamagedDataPacketIsAnsweredByOneNakAndTheFileComesWhole) {
  Bytes file = file_of(1000);
  std::vector<Bytes> train = read_train(file, 250);
  struct Case {
    const char* what;
    std::size_t packet;
    std::size_t at;
    std::uint8_t flip;
  };
  for (const Case& c : {Case{"SOH of Packet 4, whose number is EOT", 3, 0, 0x80}, Case{"SOH of Packet 2", 1, 0, 0x40},
                        Case{"complement", 2, 2, 0x01}, Case{"length beyond any buffer", 1, 4, 0x80},
                        Case{"a payload byte", 0, 40, 0x10}, Case{"checksum", 2, train[2].size() - 1, 0x04}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    serve_read(train, {{c.packet, with_byte_changed(train[c.packet], c.at, c.flip)}});
    expect_whole_fetch(file);
    EXPECT_EQ(host_naks(), 1u);
  }
}

// A Packet cut short by a lost byte: its SOH came, so the rest comes back
// to back or not at all. It is given up after the short in-Packet wait,
// drained and NAKed once, and the Packet sent again completes the file or
// list; the 10 s wait is kept for the device's silence before a Packet.
TEST_F(NoisyLine, APacketCutShortIsNakedAfterTheShortWaitAndSentAgain) {
  Bytes file = file_of(1000);
  struct Case {
    const char* what;
    const char* tag;  // "AFV" for a file, "AFF" for a list
    std::size_t packet;
    std::size_t dropped;  // the byte of that Packet lost on the way
  };
  for (const Case& c : {Case{"a payload byte of Packet 2", "AFV", 1, 100}, Case{"the last checksum byte", "AFV", 3, 259},
                        Case{"the first checksum byte", "AFV", 2, 258}, Case{"a byte of the list", "AFF", 0, 9}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    std::vector<Bytes> train = read_train(file, 250, c.tag);
    Bytes cut = train[c.packet];
    cut.erase(cut.begin() + static_cast<long>(c.dropped));
    serve_read(train, {{c.packet, cut}});
    std::vector<std::uint8_t> received(fetch_limit);
    ::testing::internal::CaptureStderr();
    int count = std::string(c.tag) == "AFV" ? get_file(fetch_limit, received.data(), "F")
                                            : get_list(received.data(), "S1:").result;
    std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(count, static_cast<int>(file.size())) << err;
    EXPECT_TRUE(std::equal(file.begin(), file.end(), received.begin()));
    EXPECT_NE(err.find("packet cut short\n"), std::string::npos) << err;
    EXPECT_EQ(host_naks(), 1u);
    EXPECT_GE(scripted_port::elapsed_ms(), unit_gap_ms());
    EXPECT_LT(scripted_port::elapsed_ms(), pclink_byte_timeout * 10);
  }
}

// Inside a Packet a pause shorter than the in-Packet wait is only a slow
// line; a longer one gives the Packet up, and its late bytes are drained,
// never read as the start of the next unit.
TEST_F(NoisyLine, APauseInsideAPacketIsWaitedOutUpToTheShortWait) {
  Bytes packet = packet_bytes(2, "AFVpaused here");
  std::uint8_t buffer[32];
  Bytes head(packet.begin(), packet.begin() + 9);
  Bytes tail(packet.begin() + 9, packet.end());
  scripted_port::queue_incoming(head);
  scripted_port::queue_gap(unit_gap_ms() / 2);
  scripted_port::queue_incoming(tail);
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 2), 14);

  scripted_port::queue_incoming(head);
  scripted_port::queue_gap(unit_gap_ms() * 3 / 2);
  scripted_port::queue_incoming(tail);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 2), recv_bad_packet);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "packet cut short\n");
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
  EXPECT_FALSE(link_failed);
}

// A device silent where a Packet should start, or silent again after the NAK
// for a Packet it cut short, still ends the program with "TimeOut".
TEST_F(NoisyLine, ASilentDeviceStillEndsWithTimeOut) {
  Bytes file = file_of(600);
  std::vector<Bytes> train = read_train(file, 250);
  Bytes half(train[1].begin(), train[1].begin() + 120);
  struct Case {
    const char* what;
    std::vector<Bytes> train;
    const char* pattern;
  };
  for (const Case& c : {Case{"silent before Packet 2", {train[0]}, "TimeOut\n$"},
                        Case{"silent after half of Packet 2", {train[0], half}, "packet cut short\n(.|\n)*TimeOut\n$"}}) {
    SCOPED_TRACE(c.what);
    auto fetch = [&] {
      // The device sends each unit once and then nothing, NAK or not.
      serve_read(c.train)->give_up_after = 1;
      Bytes buffer(fetch_limit);
      get_file(fetch_limit, buffer.data(), "F");
    };
    EXPECT_EXIT(fetch(), ::testing::ExitedWithCode(exit_line_failed), c.pattern);
  }
}

// The echo of one host byte comes back damaged (the read request, or an ACK
// inside the train turned into EOT): the exchange goes on, the file whole.
TEST_F(NoisyLine, ADamagedEchoByteDoesNotDerailTheFetch) {
  Bytes file = file_of(600);
  // Host bytes: CFV Packet (10), EOT, ENQ, ACK, ACK (14); the request for
  // "F" (18); EOT, ENQ (34); then the ACK of Packet 1 is byte 35.
  for (std::size_t index : {20u, 35u, 3u}) {
    SCOPED_TRACE(index);
    scripted_port::reset();
    open_port(1);
    scripted_port::set_loopback(true);
    scripted_port::damage_echo(index, 0x02);
    serve_read(read_train(file, 250));
    expect_whole_fetch(file);
    EXPECT_EQ(echo_pending(), 0);
    EXPECT_TRUE(echo_enabled);
  }
}

// An EOT is one byte without a check: the SOH of a damaged Packet (01 and 04
// are one bit apart) or a stray byte reads as one. The device falls silent
// after its own EOT, so one with bytes right behind it is NAKed like a
// damaged Packet and the train comes whole; a doubled EOT is still the end,
// and so is one followed by a damaged ENQ, the only byte an idle device
// sends there.
TEST_F(NoisyLine, OnlyAnEotFollowedBySilenceEndsTheTrain) {
  Bytes file = file_of(1000);
  std::vector<Bytes> train = read_train(file, 250);
  const std::size_t eot = train.size() - 2;
  Bytes junk_then_packet = {EOT, ENQ, ACK, NAK, CAN, SOH};
  junk_then_packet.insert(junk_then_packet.end(), train[2].begin(), train[2].end());
  struct Case {
    const char* what;
    std::size_t unit;
    Bytes sent_instead;
    std::size_t naks;
  };
  for (const Case& c : {Case{"Packet 3's SOH turned into EOT", 2, with_byte_changed(train[2], 0, 0x05), 1},
                        Case{"EOT ENQ ACK NAK CAN SOH before Packet 3", 2, junk_then_packet, 1},
                        Case{"the closing EOT doubled", eot, {EOT, EOT}, 0},
                        Case{"the closing ENQ damaged", eot + 1, {ENQ ^ 0x40}, 0}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    serve_read(train, {{c.unit, c.sent_instead}});
    expect_whole_fetch(file);
    EXPECT_EQ(host_naks(), c.naks);
    EXPECT_LT(scripted_port::elapsed_ms(), pclink_byte_timeout * 10);
  }
}

// A train that did not come whole is abandoned with exit code 2 and nothing
// is saved: a Packet numbered ahead of the one expected (the device moved
// on after a damaged answer), Packets after what passed for the end (a
// stray EOT met silence, and the device took our ACK for one to its Packet),
// or no ENQ after the EOT (it may have been the damaged echo of our own
// ENQ, which never reached the device).
TEST_F(NoisyLine, ATrainThatDidNotComeWholeIsALoudFailureAndNothingIsSaved) {
  InTempFolder folder{"qv_noisy"};
  Bytes file = file_of(1000);
  std::vector<Bytes> train = read_train(file, 250);
  std::vector<Bytes> stray_eot = train;
  stray_eot.insert(stray_eot.begin() + 2, Bytes{EOT});
  std::vector<Bytes> no_enq = train;
  no_enq.pop_back();
  struct Case {
    const char* what;
    std::vector<Bytes> train;
    const char* message;
  };
  for (const Case& c : {Case{"stray EOT", stray_eot, "the data train went on after its end"},
                        Case{"no ENQ", no_enq, "no ENQ after the data train's EOT"}}) {
    SCOPED_TRACE(c.what);
    auto fetch = [&] {
      scripted_port::reset();
      echo_enabled = false;
      open_port(1);
      serve_read(c.train);
      fetch_to_host_file("F", "saved", fetch_limit);
    };
    EXPECT_EXIT(fetch(), ::testing::ExitedWithCode(exit_not_done), c.message);
    EXPECT_FALSE(std::filesystem::exists("saved"));
  }
}

// A device that never ends its train keeps a fetch going no longer than a
// sane device could: data Packets without data one after another (a device
// sends an empty one at most at the end of its data), or Packets long past
// the room it was told, are given up, and nothing is saved.
TEST_F(NoisyLine, ATrainThatDoesNotEndIsGivenUp) {
  InTempFolder folder{"qv_endless"};
  std::vector<Bytes> empty_packets;
  for (int number = 1; number <= empty_data_packets_limit + 2; ++number) {
    empty_packets.push_back(packet_bytes(number, bytes_of("AFV")));
  }
  std::vector<Bytes> past_room = read_train(file_of(250 * (packets_past_room_limit + 3)), 250);
  struct Case {
    const char* what;
    std::vector<Bytes> train;
    int room;
    const char* message;
  };
  for (const Case& c : {Case{"empty Packets", empty_packets, fetch_limit, "the device does not end its train\n"},
                        Case{"past the room", past_room, 100, "past the room it was told: the train does not end\n"}}) {
    SCOPED_TRACE(c.what);
    auto fetch = [&] {
      serve_read(c.train);
      fetch_to_host_file("F", "saved", c.room);
    };
    EXPECT_EXIT(fetch(), ::testing::ExitedWithCode(exit_not_done), std::string(c.message) + "transfer abandoned\n$");
    EXPECT_FALSE(std::filesystem::exists("saved"));
  }
}

// A train that lost a Packet (the device went on past one it was asked for
// again) is answered to its end and read once more; lost a second time, the
// fetch ends loud and nothing is saved. Packet 2 skipped: the device took
// our answer for another's. EOT after a NAK: it took the NAK for an ACK.
TEST_F(NoisyLine, ATrainThatLostAPacketTwiceIsALoudFailure) {
  InTempFolder folder{"qv_lost_packet"};
  std::vector<Bytes> train = read_train(file_of(1000), 250);
  std::vector<Bytes> skipping = train;
  skipping.erase(skipping.begin() + 1);
  const std::vector<Bytes> moved_on = {train[0], with_byte_changed(train[1], 0, 0x80), {EOT}, {ENQ}};
  struct Case {
    const char* what;
    std::vector<Bytes> train;
    const char* message;
  };
  for (const Case& c : {Case{"number jump", skipping, "a data Packet out of sequence: the data did not come whole\n"},
                        Case{"EOT for a repeat", moved_on, "EOT in place of a Packet sent again: the data did not come "
                                                           "whole\n"}}) {
    SCOPED_TRACE(c.what);
    auto fetch = [&] {
      scripted_port::reset();
      echo_enabled = false;
      open_port(1);
      std::vector<Bytes> answers;
      for (int read = 0; read < 2; ++read) {
        for (const Bytes& answer : device_answers::command("DOK")) answers.push_back(answer);
        answers.insert(answers.end(), {{ACK}, {ACK}});
        answers.insert(answers.end(), c.train.begin(), c.train.end());
      }
      scripted_port::answer_units(answers);
      fetch_to_host_file("F", "saved", fetch_limit);
    };
    EXPECT_EXIT(fetch(), ::testing::ExitedWithCode(exit_not_done),
                std::string(c.message) + "o*F: reading it again from the start\n.*" + c.message + "o*transfer abandoned\n$");
    EXPECT_FALSE(std::filesystem::exists("saved"));
  }
}

// The device missed the host's ACK and sent the Packet again: it is
// acknowledged again and not stored twice.
TEST_F(NoisyLine, APacketSentAgainAfterALostAckIsNotStoredTwice) {
  Bytes file = file_of(700);
  std::vector<Bytes> train = read_train(file, 250);
  train.insert(train.begin() + 2, train[1]);
  serve_read(train);
  expect_whole_fetch(file);
  EXPECT_EQ(host_naks(), 0u);
}

// Every repeat has a bound that a live device on a sane line never reaches:
// a device that never lets a unit through ends the program with exit code 2
// after the limit, not a conversation without end.
TEST_F(NoisyLine, EveryRepeatIsBounded) {
  InTempFolder folder{"qv_noisy"};
  write_whole_file("a.bas", "10 PRINT\n");
  std::vector<Bytes> naks(100, Bytes{NAK});
  std::vector<Bytes> write_then_naks = device_answers::command("DOK");
  write_then_naks.insert(write_then_naks.end(), {{ACK}, {ACK}});
  write_then_naks.insert(write_then_naks.end(), naks.begin(), naks.end());
  Bytes file = file_of(300);
  std::vector<Bytes> train = read_train(file, 250);
  struct Case {
    const char* what;
    std::function<void()> run;
  };
  std::vector<Case> cases = {
      {"command NAKed", [&] {
         scripted_port::answer_units(naks);
         send_command(3, bytes_of("CLE").data());
       }},
      {"write EOT NAKed", [&] {
         scripted_port::answer_units(write_then_naks);
         put_file(0, nullptr, "E");
       }},
      {"installer data never ACKed", [&] {
         scripted_port::queue_incoming({ENQ});
         std::vector<Bytes> answers = device_answers::command("DOK");
         answers.push_back({ACK});
         answers.insert(answers.end(), naks.begin(), naks.end());
         scripted_port::answer_units(answers);
         std::string name = "a.bas";
         send_addin_file(name.data());
       }},
      {"read Packet always damaged", [&] {
         serve_read(train, {{0, with_byte_changed(train[0], 10, 1)}}, 100);
         Bytes buffer(fetch_limit);
         get_file(fetch_limit, buffer.data(), "F");
       }},
      {"ENQ never comes", [&] {
         for (int i = 0; i < 40; ++i) {
           scripted_port::queue_incoming({0x33});
           scripted_port::queue_timeout();
         }
         wait_for(ENQ);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EXIT(c.run(), ::testing::ExitedWithCode(exit_not_done), "too many repeats in a row");
  }
  // A device that NAKs up to the limit is still served.
  std::vector<Bytes> at_the_limit(naks.begin(), naks.begin() + handshake_repeat_limit);
  at_the_limit.insert(at_the_limit.end(), {{ACK}, {ACK}});
  scripted_port::answer_units(at_the_limit);
  EXPECT_EQ(send_command(3, bytes_of("CLE").data()), ACK);
}

// A noise byte before the awaited byte is drained with the rest of its
// burst; the byte the device waits with after it still counts.
TEST_F(NoisyLine, StrayBytesBeforeAnAnswerAreDrainedAndTheLastOneCounts) {
  scripted_port::queue_incoming({0x7F, 0x01, ENQ});
  wait_for(ENQ);
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
  scripted_port::queue_incoming({0x45, 0x04, NAK});
  EXPECT_EQ(recv_answer(), NAK);
  scripted_port::queue_incoming({0x45, 0x04});
  EXPECT_EQ(recv_answer(), 0x45);
  EXPECT_FALSE(link_failed);
}

// In link mode 2 the request Packet must fit one 4096-byte relay frame:
// longer names are refused before anything is sent, as on the cable.
TEST_F(NoisyLine, RelayNamesAreBoundedByTheRelayFrame) {
  scripted_port::reset();
  echo_enabled = false;
  open_port(2);
  std::string read_name(relay_buffer_size - packet_framing_length - 10 + 1, 'r');
  std::string write_name(relay_buffer_size - packet_framing_length - 7 + 1, 'w');
  std::string list_name(relay_buffer_size - packet_framing_length - 4 + 1, 'l');
  Bytes buffer(16);
  std::vector<std::uint8_t> block(list_block_size);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(16, buffer.data(), read_name.c_str()), transfer_not_started);
  EXPECT_EQ(put_file(0, nullptr, write_name.c_str()), transfer_not_started);
  EXPECT_EQ(get_list(block.data(), list_name.c_str()).result, transfer_not_started);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), read_name + ": file name too long for a request\n" + write_name +
                                                          ": file name too long for a request\n" + list_name +
                                                          ": file name too long for a request\n");
  EXPECT_TRUE(scripted_port::written().empty());
  // One byte shorter fits, both names at the limit.
  read_name.pop_back();
  write_name.pop_back();
  EXPECT_TRUE(request_name_fits(read_name.c_str(), read_name_max_length));
  EXPECT_TRUE(request_name_fits(write_name.c_str(), write_name_max_length));
}

}  // namespace
