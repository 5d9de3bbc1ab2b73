// The host on a noisy line: a train that did not come whole, or does not
// end, is given up loud with nothing saved, no handshake repeats for ever,
// and a relay request fits its frame.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/data_train.h"
#include "pclink/echo.h"
#include "pclink/file_commands.h"
#include "pclink/host_file_fetches.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "qvdir/device_list.h"
#include "qvinstall/addin_conversation.h"
#include "support/device_answers.h"
#include "support/scripted_port.h"
#include "support/test_files.h"
#include "unit/noisy_line_test_support.h"

namespace {

using namespace noisy_line_test;
using scripted_port::Bytes;
using scripted_port::bytes_of;
using scripted_port::packet_bytes;

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
