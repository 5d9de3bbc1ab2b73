// The installer's conversation as it goes when the device takes part: the
// add-in probe, one file sent in full blocks with its upper-case name, the
// repeats, the end-of-text Packet and the closing EOT, and the reset.
#include <gtest/gtest.h>

#include <string>

#include "pclink/echo.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "qvinstall/addin_conversation.h"
#include "qvinstall/settings.h"
#include "support/addin_conversation_fixture.h"
#include "support/device_answers.h"
#include "support/scripted_port.h"
#include "support/sjis.h"

namespace {

using device_answers::Answers;
using scripted_port::Bytes;
using scripted_port::packet_bytes;

TEST_F(AddinConversation, TheProbeIsATwentyByteReadRequestOfNifadrBox) {
  Answers answers = device_answers::command("DOK");
  device_answers::append(answers, device_answers::command("AFV\x01\x02"));
  scripted_port::answer_units(answers);
  EXPECT_EQ(connect_addin(), 1);
  const auto& units = scripted_port::written_units();
  ASSERT_EQ(units.size(), 10u);
  EXPECT_EQ(units[0], packet_bytes(1, "CFV"));
  Bytes probe = {0x01, 0x01, 0xFE, 0x14, 0x00, 0x52, 0x46, 0x56, 0x0A, 0x00, 0x00, 0x53, 0x31, 0x3A,
                 0x4E, 0x49, 0x46, 0x41, 0x44, 0x52, 0x2E, 0x42, 0x4F, 0x58, 0x00, 0x81, 0x04};
  EXPECT_EQ(units[5], probe);
  EXPECT_EQ(units[6], Bytes{EOT});
  EXPECT_EQ(units[7], Bytes{ENQ});
  EXPECT_EQ(scripted_port::incoming_left(), 1u);  // the ready ENQ, for the first file
}

TEST_F(AddinConversation, HelloBasGoesOutAsAnUpperCaseRequestAndFullBlocks) {
  std::string contents(300, '\0');
  for (std::size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i);
  write_file("hello.bas", contents);
  script_file(2);
  EXPECT_EQ(send("hello.bas"), "hello.bas:oo" + sjis(" 終了") + "\n");
  std::vector<Bytes> units = units_after_cfd();
  ASSERT_EQ(units.size(), 7u);
  Bytes request = {0x01, 0x01, 0xFE, 0x10, 0x00, 0x52, 0x46, 0x44, 0x53, 0x31, 0x3A, 0x48,
                   0x45, 0x4C, 0x4C, 0x4F, 0x2E, 0x42, 0x41, 0x53, 0x00, 0x12, 0x04};
  EXPECT_EQ(units[0], request);
  EXPECT_EQ(units[1], packet_bytes(2, "RFD" + contents.substr(0, 253)));
  EXPECT_EQ(units[2], packet_bytes(3, "RFD" + contents.substr(253)));
  EXPECT_EQ(units[3], Bytes{EOT});
  EXPECT_EQ(units[4], Bytes{ENQ});
  EXPECT_EQ(scripted_port::incoming_left(), 1u);  // the ready ENQ for what follows
}

TEST_F(AddinConversation, AFullBlockOrAnEmptyFileEndsWithoutAnEmptyDataPacket) {
  write_file("full.bin", std::string(253, 'z'));
  script_file(1);
  EXPECT_EQ(send("full.bin"), "full.bin:o" + sjis(" 終了") + "\n");
  std::vector<Bytes> units = units_after_cfd();
  ASSERT_GE(units.size(), 3u);
  EXPECT_EQ(units[1].size(), 5u + 256 + 2);
  EXPECT_EQ(units[2], Bytes{EOT});

  scripted_port::reset();
  echo_enabled = false;
  open_port(1);
  write_file("empty.txt", "");
  script_file(0);
  EXPECT_EQ(send("empty.txt"), "empty.txt:" + sjis(" 終了") + "\n");
  units = units_after_cfd();
  ASSERT_GE(units.size(), 2u);
  EXPECT_EQ(units[0], packet_bytes(1, std::string("RFDS1:EMPTY.TXT\0", 16)));
  EXPECT_EQ(units[1], Bytes{EOT});
}

// Every transmission takes a fresh number and another mark. A NAK refuses
// a Packet; any other answer is damage: the Packet is taken, not sent
// again (the device may have stored it), and the write, confirmed, is then
// read back and found whole.
TEST_F(AddinConversation, EveryRepeatTakesAFreshNumberAndADamagedAnswerIsReadBack) {
  write_file("a.txt", "abc");
  scripted_port::queue_incoming({ENQ});
  Answers answers = device_answers::command("DOK");
  // Request refused once; the data Packet refused by NAK, then answered by a
  // damaged byte.
  device_answers::append(answers, {{NAK}, {ACK}, {NAK}, {0x00}, {ACK}});
  device_answers::append(answers, device_answers::reply(scripted_port::bytes_of("AEX")));
  // The read-back: "CFV" consented, the request taken, the file, EOT, ENQ.
  device_answers::append(answers, device_answers::command("DOK"));
  device_answers::append(answers, {{ACK}, {ACK}, packet_bytes(1, "AFVabc"), {EOT}, {ENQ}});
  scripted_port::answer_units(answers);
  EXPECT_EQ(send("a.txt"), "a.txt:oo" + sjis(" 終了") + "\noo end\n" +
                               "A.TXT: the line was not clean during the write; read back, the file is whole\n");
  std::vector<Bytes> units = units_after_cfd();
  ASSERT_GE(units.size(), 6u);
  Bytes request_payload = scripted_port::bytes_of(std::string("RFDS1:A.TXT\0", 12));
  EXPECT_EQ(units[0], packet_bytes(1, request_payload));
  EXPECT_EQ(units[1], packet_bytes(2, request_payload));
  EXPECT_EQ(units[2], packet_bytes(3, "RFDabc"));
  EXPECT_EQ(units[3], packet_bytes(4, "RFDabc"));
  EXPECT_EQ(units[4], Bytes{EOT});
  ASSERT_GE(units.size(), 14u);
  EXPECT_EQ(units[13], packet_bytes(1, scripted_port::bytes_of(std::string("RFV\x04\x00\x00S1:A.TXT\0", 15))));
}

TEST_F(AddinConversation, TheEndOfTextPacketFollowsTheFirstFileOnly) {
  write_file("two.bin", std::string(300, 'q'));
  install_settings.end_mark = true;
  scripted_port::queue_incoming({ENQ});
  Answers answers = device_answers::command("DOK");
  // ACK to the request and both data Packets; the end-of-text Packet refused once.
  device_answers::append(answers, {{ACK}, {ACK}, {ACK}, {NAK}, {ACK}, {ACK}});
  device_answers::append(answers, device_answers::reply(scripted_port::bytes_of("AEX")));
  scripted_port::answer_units(answers);
  EXPECT_EQ(send("two.bin"), "two.bin:ooT" + sjis(" 終了") + "\n");
  std::vector<Bytes> units = units_after_cfd();
  ASSERT_GE(units.size(), 6u);
  Bytes end_mark = {0x01, 0x04, 0xFB, 0x04, 0x00, 0x52, 0x46, 0x44, 0x1A, 0xF6, 0x00};
  EXPECT_EQ(units[3], end_mark);
  EXPECT_EQ(units[4], end_mark);  // a repeat keeps its number
  EXPECT_EQ(units[5], Bytes{EOT});
  EXPECT_FALSE(install_settings.end_mark);

  scripted_port::reset();
  echo_enabled = false;
  open_port(1);
  script_file(2);
  EXPECT_EQ(send("two.bin"), "two.bin:oo" + sjis(" 終了") + "\n");
}

TEST_F(AddinConversation, TheClosingEotIsRepeatedUntilAck) {
  write_file("x", "1");
  scripted_port::queue_incoming({ENQ});
  Answers answers = device_answers::command("DOK");
  // NAK and CAN are the device's own bytes: the EOT goes again. 0x41 is
  // no byte the device sends: its ACK, damaged, and the host goes on.
  device_answers::append(answers, {{ACK}, {ACK}, {NAK}, {CAN}, {0x41}});
  device_answers::append(answers, device_answers::reply(scripted_port::bytes_of("AEX")));
  // A write whose EOT was not simply taken is read back.
  device_answers::append(answers, device_answers::command("DOK"));
  device_answers::append(answers, {{ACK}, {ACK}, packet_bytes(1, "AFV1"), {EOT}, {ENQ}});
  scripted_port::answer_units(answers);
  send("x");
  std::vector<Bytes> units = units_after_cfd();
  ASSERT_GE(units.size(), 6u);
  EXPECT_EQ(units[2], Bytes{EOT});
  EXPECT_EQ(units[3], Bytes{EOT});
  EXPECT_EQ(units[4], Bytes{EOT});
  EXPECT_EQ(units[5], Bytes{ENQ});
}

TEST_F(AddinConversation, TheDeviceNameIsMadeUpperCaseByteByByte) {
  // The second byte of a double-byte character belongs to it and stays:
  // 83 61 changed to 83 41 would name another character.
  char name[] = "dir/ab\x83\x61z.bin";
  make_device_name(name);
  EXPECT_STREQ(name, "DIR/AB\x83\x61Z.BIN");
}

TEST_F(AddinConversation, FinishResetsUnlessToldNotTo) {
  scripted_port::queue_incoming({ENQ});
  scripted_port::answer_units(device_answers::command("DOK"));
  EXPECT_EQ(finish_install(), 1);
  ASSERT_EQ(scripted_port::written_units().size(), 5u);
  EXPECT_EQ(scripted_port::written_units()[0], packet_bytes(1, "CLE"));
  EXPECT_EQ(scripted_port::incoming_left(), 0u);

  scripted_port::reset();
  open_port(1);
  install_settings.reset_after = false;
  scripted_port::queue_incoming({0x33, ENQ});
  EXPECT_EQ(finish_install(), 1);
  EXPECT_TRUE(scripted_port::written().empty());
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

}  // namespace
