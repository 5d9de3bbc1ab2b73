// qvdir's list conversation against a scripted device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "qvdir/device_list.h"
#include "support/scripted_port.h"

namespace {

using scripted_port::Bytes;
using scripted_port::packet_bytes;

std::vector<Bytes> list_conversation(const std::vector<Bytes>& train, bool closing_eot = true) {
  std::vector<Bytes> answers = {{ACK}, {ACK}, packet_bytes(1, "DOK"), {EOT}, {ENQ}, {ACK}, {ACK}};
  answers.insert(answers.end(), train.begin(), train.end());
  if (closing_eot) answers.push_back({EOT});
  answers.push_back({ENQ});
  return answers;
}

class DeviceList : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
  }
};

TEST_F(DeviceList, TheDefaultRequestIsSevenBytesWithoutCapacity) {
  scripted_port::answer_units(list_conversation({packet_bytes(1, "AFFA.TXT 5\r\n")}));
  std::vector<std::uint8_t> block(list_block_size);
  ::testing::internal::CaptureStderr();
  ReceivedTrain list = get_list(block.data(), "S1:");
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(list.result, 9);
  const auto& units = scripted_port::written_units();
  EXPECT_EQ(units[0], packet_bytes(1, "CFF"));
  EXPECT_EQ(units[5], packet_bytes(1, std::string("RFFS1:") + '\0'));
  EXPECT_EQ(units[6], Bytes{EOT});
  EXPECT_EQ(units[7], Bytes{ENQ});
}

TEST_F(DeviceList, PrintsTheListUpToANulOnStandardOutputOnly) {
  scripted_port::answer_units(
      list_conversation({packet_bytes(1, "AFFA.TXT 5\r\n"), packet_bytes(2, std::string("AFFB 1\r\n\0C", 11))}));
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list_device("S1:"), exit_done);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "A.TXT 5\r\nB 1\r\n");
  EXPECT_NE(err.find("ooo end\n"), std::string::npos);
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

TEST_F(DeviceList, APacketErrorPrintsThePartReceivedButFails) {
  scripted_port::answer_units(list_conversation({packet_bytes(1, "AFFA.TXT 5\r\n"), packet_bytes(2, "XYZ")}, false));
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list_device("S1:"), exit_not_done);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "A.TXT 5\r\n");
  EXPECT_NE(err.find("oopacket error\n end\n"), std::string::npos);
}

TEST_F(DeviceList, ARefusalPrintsNothingOnStandardOutput) {
  scripted_port::answer_units(list_conversation({packet_bytes(1, "ANG")}, false));
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list_device("X:"), exit_not_done);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_NE(err.find("oX: file not found\n"), std::string::npos);
}

TEST_F(DeviceList, AListLargerThanTheBlockIsNotPrinted) {
  std::vector<Bytes> train;
  std::string chunk(4000, 'x');
  for (int number = 1; number <= 33; ++number) train.push_back(packet_bytes(number, "AFF" + chunk));  // 132000 bytes
  scripted_port::answer_units(list_conversation(train));
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list_device("S1:"), exit_not_done);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

TEST_F(DeviceList, AnOverlongTargetIsRefusedBeforeAnythingIsSent) {
  std::string too_long(list_name_max_length + 1, 't');
  std::vector<std::uint8_t> block(list_block_size);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_list(block.data(), too_long.c_str()).result, transfer_not_started);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), too_long + ": file name too long for a request\n");
  EXPECT_TRUE(scripted_port::written().empty());
  // The whole run neither sends nor waits for the idle device's ENQ.
  scripted_port::queue_incoming({ENQ});
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list_device(too_long.c_str()), exit_not_done);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(scripted_port::written().empty());
  EXPECT_EQ(scripted_port::incoming_left(), 1u);
}

}  // namespace
