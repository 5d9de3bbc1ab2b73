// What the installer's conversation refuses, or finds refused: a device
// without the add-in or not ready, a probe reply too long, a file the
// device does not take or the host cannot read, a name too long for a
// request, a refused reset, a device falling silent.
#include <gtest/gtest.h>

#include <filesystem>
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

namespace fs = std::filesystem;

namespace {

using device_answers::Answers;

TEST_F(AddinConversation, ARefusedProbeOrAnAbsentDeviceSaysWhy) {
  Answers answers = device_answers::command("DOK");
  device_answers::append(answers, device_answers::command("ANG"));
  scripted_port::answer_units(answers);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(connect_addin(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), sjis("addin 機能は使用できません") + "\n");

  scripted_port::reset();
  echo_enabled = false;
  open_port(1);
  scripted_port::answer_units(device_answers::command("NG"));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(connect_addin(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), sjis("Zaurus が未接続または待機状態にありません") + "\n");
  EXPECT_EQ(scripted_port::written_units().size(), 5u);  // no probe after a refused "CFV"
}

TEST_F(AddinConversation, AProbeReplyLongerThanTheExchangeBufferIsDroppedNotStored) {
  Answers answers = device_answers::command("DOK");
  std::string huge = "AFV" + std::string(5000, 'x');
  device_answers::append(answers, device_answers::command(huge));
  scripted_port::answer_units(answers);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(connect_addin(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "packet too long\n" + sjis("addin 機能は使用できません") + "\n");
  EXPECT_EQ(scripted_port::incoming_left(), 1u);  // still in step with the device
}

TEST_F(AddinConversation, NoAexNamesTheUpperCaseFileAsFailed) {
  fs::create_directory("sub");
  write_file("sub/game.exe", "MZ");
  script_file(1, "ANG");
  EXPECT_EQ(send("sub/game.exe", 0), "sub/game.exe:o" + std::string("SUB/GAME.EXE") +
                                         sjis(":送信に失敗しました") + "\n");
}

TEST_F(AddinConversation, NoConsentToCfdSkipsTheFile) {
  write_file("a.txt", "abc");
  scripted_port::queue_incoming({ENQ});
  scripted_port::answer_units(device_answers::command("ANG"));
  EXPECT_EQ(send("a.txt", 0), sjis("送信コマンドエラー") + "\n");
  EXPECT_TRUE(units_after_cfd().empty());
}

TEST_F(AddinConversation, AFileThatCannotBeReadStopsAfterCfd) {
  fs::create_directory("folder.bin");
  for (const char* name : {"missing.bin", "folder.bin", ""}) {
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    scripted_port::queue_incoming({ENQ});
    scripted_port::answer_units(device_answers::command("DOK"));
    EXPECT_EQ(send(name, 0), std::string(name) + sjis(":送信ファイルがオープンできません") + "\n");
    EXPECT_TRUE(units_after_cfd().empty()) << name;
  }
}

TEST_F(AddinConversation, ANameTooLongForTheExchangeBufferIsRefusedBeforeAnyByte) {
  std::string longest(max_file_name_length, 'n');
  EXPECT_TRUE(name_fits_request(longest.c_str()));
  std::string name = longest + "n";
  EXPECT_EQ(send(name, 0), name + ":file name too long (at most 2041 bytes)\n");
  EXPECT_TRUE(scripted_port::written().empty());
  EXPECT_EQ(scripted_port::read_count(), 0);
}

TEST_F(AddinConversation, ARefusedResetIsReported) {
  scripted_port::queue_incoming({ENQ});
  scripted_port::answer_units(device_answers::command("NG"));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(finish_install(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), sjis("リセットに失敗しました") + "\n");
}

TEST_F(AddinConversation, ADeviceFallingSilentMidFileEndsWithTimeOut) {
  write_file("a.txt", "abc");
  scripted_port::queue_incoming({ENQ});
  Answers answers = device_answers::command("DOK");
  device_answers::append(answers, {{ACK}});  // then nothing for the data Packet
  scripted_port::answer_units(answers);
  char name[] = "a.txt";
  EXPECT_EXIT(send_addin_file(name), ::testing::ExitedWithCode(1), "TimeOut\n$");
}

}  // namespace
