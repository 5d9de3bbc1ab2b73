// The installer's command line, its package list and its two modes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "qvinstall/addin_conversation.h"
#include "qvinstall/install_modes.h"
#include "qvinstall/settings.h"
#include "support/device_answers.h"
#include "support/scripted_port.h"
#include "support/test_files.h"
#include "support/sjis.h"

namespace fs = std::filesystem;

namespace {

using device_answers::Answers;
using scripted_port::Bytes;
using scripted_port::packet_bytes;

// The argument vector of a command line, writable as main's is.
struct CommandLine {
  std::vector<std::string> words;
  std::vector<char*> pointers;
  explicit CommandLine(std::vector<std::string> arguments) : words(std::move(arguments)) {
    words.insert(words.begin(), "qvinstall");
    for (std::string& word : words) pointers.push_back(word.data());
  }
  char* parse() { return parse_arguments(static_cast<int>(pointers.size()), pointers.data()); }
};

class InstallCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    install_settings = InstallSettings{};
  }
};

TEST_F(InstallCommandLine, OptionsAreChosenByTheirLettersAroundTheName) {
  CommandLine line({"-t", "-D", "-R", "-q", "-C", "-s2", "-d", "/dev/ttyS1", "second.bas"});
  char* name = line.parse();
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "second.bas");
  EXPECT_TRUE(install_settings.end_mark);
  EXPECT_FALSE(install_settings.show_desc);
  EXPECT_FALSE(install_settings.reset_after);
  EXPECT_TRUE(install_settings.program_mode);
  EXPECT_FALSE(echo_enabled);
  EXPECT_EQ(install_settings.link_mode, link_mode_relay);
  EXPECT_STREQ(current_port_name(), "/dev/ttyS1");
}

// A link mode given apart from its -s would be a second name: refused,
// where it once ran at the speed of mode 0 with the last name.
TEST_F(InstallCommandLine, ASecondNameIsRefused) {
  CommandLine line({"-s", "2", "hello.zrs"});
  EXPECT_EQ(line.parse(), nullptr);
  EXPECT_EXIT(refuse_install_command_line(), ::testing::ExitedWithCode(exit_not_done),
              "^qvinstall: 'hello\\.zrs': one name too many \\('2' is named already\\)\n");
}

TEST_F(InstallCommandLine, DefaultsAndALoneHyphenAsTheName) {
  CommandLine line({"-"});
  char* name = line.parse();
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "-");
  EXPECT_EQ(install_settings.link_mode, default_link_mode);
  EXPECT_TRUE(install_settings.reset_after);
  EXPECT_TRUE(install_settings.show_desc);
  EXPECT_FALSE(install_settings.end_mark);
  EXPECT_FALSE(install_settings.program_mode);
  EXPECT_TRUE(echo_enabled);
}

TEST_F(InstallCommandLine, TheLinkModeIsTheLowTwoBitsOfTheThirdCharacter) {
  for (auto [option, mode] : std::vector<std::pair<std::string, int>>{{"-s", 0}, {"-s0", 0}, {"-s3", 3}, {"-s1", 1}}) {
    CommandLine line({option, "a"});
    line.parse();
    EXPECT_EQ(install_settings.link_mode, mode) << option;
  }
}

TEST_F(InstallCommandLine, RejectedCommandLinesForgetTheName) {
  for (std::vector<std::string> words : std::vector<std::vector<std::string>>{
           {"a.zrs", "-x"}, {"a.zrs", "-r"}, {"a.zrs", "-d"}, {}, {"-t"}, {"a.zrs", "-tx"}}) {
    CommandLine line(words);
    EXPECT_EQ(line.parse(), nullptr);
  }
  // The two usage lines, between what was wrong and the options they leave out.
  CommandLine typo({"a.zrs", "-tx"});
  typo.parse();
  EXPECT_EXIT(refuse_install_command_line(), ::testing::ExitedWithCode(exit_not_done),
              "^qvinstall: unknown option letter 'x' in '-tx'\n"
              "usage: qvinstall    \\[-s0\\|1\\|2\\] \\[-t\\] \\[-D\\] <file>\\.zrs\n"
              "       qvinstall -q \\[-s0\\|1\\|2\\] \\[-t\\] \\[-R\\] <file>\\.bas\n"
              "qvinstall also takes -d <port>, -C and -v\\. Try 'qvinstall --help'\n$");
}

TEST_F(InstallCommandLine, APortNameTooLongEndsTheProgram) {
  CommandLine line({"-d", std::string(80, 'p'), "a.zrs"});
  EXPECT_EXIT(line.parse(), ::testing::ExitedWithCode(exit_not_done), "port name too long");
}

// Package and program runs in a fresh folder, against a scripted device.
class InstallModes : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    install_settings = InstallSettings{};
    echo_enabled = false;
  }

  static void write_file(const std::string& name, const std::string& bytes) { write_whole_file(name, bytes); }

  // Connection, probe, one write train per file (data_packets each, "AEX" or
  // another final reply), then the reset.
  struct FileScript {
    int data_packets;
    std::string final_reply = "AEX";
  };
  static void script_device(const std::vector<FileScript>& files, bool reset = true) {
    Answers answers = device_answers::command("DOK");
    device_answers::append(answers, device_answers::command("AFV"));
    for (const FileScript& file : files) {
      device_answers::append(answers, device_answers::command("DOK"));
      if (file.data_packets >= 0) {
        device_answers::append(answers, device_answers::write_train(file.data_packets, file.final_reply));
      }
    }
    if (reset) device_answers::append(answers, device_answers::command("DOK"));
    scripted_port::answer_units(answers);
  }

  static int run_package(const std::string& list, std::string& err) {
    ::testing::internal::CaptureStderr();
    int outcome = install_package(list.c_str());
    err = ::testing::internal::GetCapturedStderr();
    return outcome;
  }

  static std::vector<Bytes> packets_sent() {
    std::vector<Bytes> packets;
    for (const Bytes& unit : scripted_port::written_units()) {
      if (unit.size() > 1) packets.push_back(unit);
    }
    return packets;
  }

  static const std::string& completion() {
    static const std::string line = sjis("送信完了 Zaurus本体を再起動します") + "\n";
    return line;
  }

  InTempFolder folder{"qv_install_modes"};
};

TEST_F(InstallModes, ABadHeaderNeverOpensThePort) {
  for (std::string list : {std::string("zrs,p,Title\n"), std::string(" ZRS,P,Title\n"), std::string(""),
                           std::string("ZRS,P")}) {
    scripted_port::reset();
    write_file("bad.zrs", list);
    std::string err;
    EXPECT_EQ(run_package("bad.zrs", err), exit_not_done);
    EXPECT_EQ(err, "bad.zrs" + sjis(":フォーマットエラー") + "\n");
    EXPECT_EQ(scripted_port::open_count(), 0) << list;
  }
  std::string err;
  EXPECT_EQ(run_package("absent.zrs", err), exit_not_done);
  EXPECT_EQ(err, "absent.zrs" + sjis(":がオープンできません") + "\n");
  EXPECT_EQ(scripted_port::open_count(), 0);
}

TEST_F(InstallModes, AOneLineListStillConnectsCompletesAndResets) {
  write_file("only.zrs", "ZRS,P,");
  script_device({});
  std::string err;
  EXPECT_EQ(run_package("only.zrs", err), exit_done);
  EXPECT_EQ(err, "\n" + sjis("タイトル ") + "\n--\n" + completion());
  std::vector<Bytes> packets = packets_sent();
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0], packet_bytes(1, "CFV"));
  EXPECT_EQ(packets[2], packet_bytes(1, "CLE"));
  EXPECT_EQ(scripted_port::incoming_left(), 0u);  // the closing ENQ was taken
  EXPECT_TRUE(scripted_port::is_open());          // never closed by the tool
}

TEST_F(InstallModes, TheDescriptionShowsAtMostFiveLines) {
  write_file("three.txt", "one\ntwo\r\nthree");
  write_file("eight.txt", "1\n2\n3\n4\n5\n6\n7\n8\n");
  for (auto [description, shown] : std::vector<std::pair<std::string, std::string>>{
           {"three.txt", "one\ntwo\nthree\n"}, {"eight.txt", "1\n2\n3\n4\n5\n"}, {"absent.txt", ""}}) {
    scripted_port::reset();
    echo_enabled = false;
    write_file("p.zrs", "ZRS,P," + sjis("日本語") + "\n" + description + "\n");
    script_device({});
    std::string err;
    EXPECT_EQ(run_package("p.zrs", err), exit_done);
    EXPECT_EQ(err, "\n" + sjis("タイトル 日本語") + "\n" + shown + "--\n" + completion());
  }
}

TEST_F(InstallModes, UnderDTheSecondLineIsStillConsumed) {
  write_file("a.bin", "A");
  write_file("p.zrs", "ZRS,P,T\na.bin\na.bin\n");
  install_settings.show_desc = false;
  script_device({{1}});
  std::string err;
  EXPECT_EQ(run_package("p.zrs", err), exit_done);
  EXPECT_EQ(err, "\n" + sjis("タイトル T") + "\na.bin:o" + sjis(" 終了") + "\n" + completion());
}

TEST_F(InstallModes, EndOfTextLinesAreSkippedAndEveryOtherLineIsAFile) {
  write_file("good.bin", "good");
  // An empty line is a name that cannot be opened; the last name has no newline.
  write_file("p.zrs", "ZRS,P,T\n\n\x1A junk\n\nmissing.bin\ngood.bin");
  script_device({{-1}, {-1}, {1}});
  std::string err;
  EXPECT_EQ(run_package("p.zrs", err), exit_not_done);
  std::string cannot_open = sjis(":送信ファイルがオープンできません") + "\n";
  EXPECT_EQ(err, "\n" + sjis("タイトル T") + "\n--\n" + cannot_open + "missing.bin" + cannot_open +
                     "good.bin:o" + sjis(" 終了") + "\n" + completion());
  std::vector<Bytes> packets = packets_sent();
  ASSERT_EQ(packets.size(), 8u);  // CFV, probe, 3 × CFD, request, data, CLE
  EXPECT_EQ(packets[5], packet_bytes(1, std::string("RFDS1:GOOD.BIN\0", 15)));
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

TEST_F(InstallModes, AFileTheDeviceDidNotConfirmMeansNotDone) {
  write_file("a.bin", "A");
  write_file("b.bin", "B");
  write_file("p.zrs", "ZRS,P,T\n\na.bin\nb.bin\n");
  install_settings.end_mark = true;
  // The end-of-text Packet counts as one more Packet of the first train.
  script_device({{2, "NG"}, {1}});
  std::string err;
  EXPECT_EQ(run_package("p.zrs", err), exit_not_done);
  EXPECT_NE(err.find("a.bin:oTA.BIN" + sjis(":送信に失敗しました")), std::string::npos);
  EXPECT_NE(err.find("b.bin:o" + sjis(" 終了")), std::string::npos);
  EXPECT_TRUE(err.ends_with(completion()));
}

TEST_F(InstallModes, ARefusedConnectionOrProbeSendsNoFileAndNoReset) {
  write_file("p.zrs", "ZRS,P,T\n\na.bin\n");
  Answers answers = device_answers::command("DOK");
  device_answers::append(answers, device_answers::command("ANG"));
  scripted_port::answer_units(answers);
  std::string err;
  EXPECT_EQ(run_package("p.zrs", err), exit_not_done);
  EXPECT_TRUE(err.ends_with("--\n" + sjis("addin 機能は使用できません") + "\n"));
  EXPECT_EQ(packets_sent().size(), 2u);
}

TEST_F(InstallModes, ARefusedResetMeansNotDone) {
  write_file("p.zrs", "ZRS,P,T\n");
  Answers answers = device_answers::command("DOK");
  device_answers::append(answers, device_answers::command("AFV"));
  device_answers::append(answers, device_answers::command("NG"));
  scripted_port::answer_units(answers);
  std::string err;
  EXPECT_EQ(run_package("p.zrs", err), exit_not_done);
  EXPECT_TRUE(err.ends_with(completion() + sjis("リセットに失敗しました") + "\n"));
}

TEST_F(InstallModes, ProgramModeSendsTheFileWithoutReadingIt) {
  write_file("prog.zrs", "ZRS,P,not a list\n");
  install_settings.program_mode = true;
  install_settings.reset_after = false;
  script_device({{1}}, false);
  char name[] = "prog.zrs";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(install_program(name), exit_done);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "prog.zrs:o" + sjis(" 終了") + "\n" + sjis("送信完了") + "\n");
  std::vector<Bytes> packets = packets_sent();
  ASSERT_EQ(packets.size(), 5u);  // CFV, probe, CFD, request, data: no CLE under -R
  EXPECT_EQ(packets[3], packet_bytes(1, std::string("RFDS1:PROG.ZRS\0", 15)));
  EXPECT_EQ(packets[4], packet_bytes(2, "RFDZRS,P,not a list\n"));
}

TEST_F(InstallModes, ProgramModeRefusesATooLongNameBeforeOpeningThePort) {
  std::string name(max_file_name_length + 1, 'n');
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(install_program(name.data()), exit_not_done);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), name + ":file name too long (at most 2041 bytes)\n");
  EXPECT_EQ(scripted_port::open_count(), 0);
}

}  // namespace
