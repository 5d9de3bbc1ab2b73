// qvdir against the emulated device: the list on standard output and
// nothing else there, the request bytes, and the failures.
#include <gtest/gtest.h>

#include "support/e2e.h"
#include "support/file_session.h"

namespace {

std::string announcement() {
  return sjis("通信中 しばらくお待ち下さい") + "\n";
}

TEST(QvdirList, PrintsTheDeviceListOnStandardOutputOnly) {
  FileSession session = run_file_program("qvdir", {}, {}, {{"A.TXT", "12345"}, {"b.bin", std::string(300, 'b')}});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(session.run.out, "A.TXT 5\r\nb.bin 300\r\n");
  EXPECT_EQ(session.run.err.rfind(sjis(program_title("qvdir", "ZAURUS 内部リスト表示")), 0), 0u);
  EXPECT_EQ(after_banner(session.run.err), announcement() + "oo end\n");
  std::string list = "AFFA.TXT 5\r\nb.bin 300\r\n";
  EXPECT_EQ(to_hex(host_bytes(session.trace)),
            to_hex(host_opening("CFF") + packet(1, with_nul("RFFS1:")) + "\x04\x05\x06\x06"));
  EXPECT_EQ(to_hex(device_bytes(session.trace)),
            to_hex(device_opening() + "\x06\x06" + packet(1, list) + "\x04\x05"));
  EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{});
}

// "qvdir > list.txt" on a full disk: the list did not reach its file, and
// the run says so and fails instead of ending as if it had.
TEST(QvdirList, AListStandardOutputCannotTakeIsNotDone) {
  if (wine_mode()) GTEST_SKIP() << "/dev/full is a Linux device";
  RunOptions full;
  full.output_file = "/dev/full";
  FileSession session = run_file_program("qvdir", {}, {}, {{"A.TXT", "12345"}}, {}, full);
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err),
            announcement() + "oo end\nstandard output cannot be written: the list is not whole there\n");
}

TEST(QvdirList, AnEmptyStoragePrintsNothingAndSucceeds) {
  FileSession session = run_file_program("qvdir", {"-C", "S1:"}, {"--no-echo"});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(session.run.out, "");
  EXPECT_EQ(after_banner(session.run.err), announcement() + "o end\n");
}

TEST(QvdirList, ALongListCrossesManyPackets) {
  std::vector<std::pair<std::string, std::string>> files;
  std::string expected;
  for (int i = 100; i < 160; ++i) {
    files.push_back({"FILE" + std::to_string(i) + ".TXT", std::string(i, 'x')});
    expected += "FILE" + std::to_string(i) + ".TXT " + std::to_string(i) + "\r\n";
  }
  FileSession session = run_file_program("qvdir", {}, {}, files);
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(session.run.out, expected);
}

// A Japanese target name typed in a UTF-8 shell reaches the line in
// Shift-JIS: natively through the locale, under Wine from the command line
// as typed, since the ANSI code page there lacks the characters and the
// ANSI argument holds "?" in their place.
TEST(QvdirList, AJapaneseTargetNameReachesTheLineInShiftJis) {
  RunOptions options;
  options.environment = {"LC_ALL=C.UTF-8"};
  FileSession session = run_file_program("qvdir", {"メモ:"}, {}, {{"A", "a"}}, {}, options);
  // The device knows S1: alone: the name comes back in its refusal.
  EXPECT_EQ(session.run.exit_code, 2) << session.run.err;
  EXPECT_TRUE(contains(host_bytes(session.trace), packet(1, with_nul("RFF" + sjis("メモ:")))))
      << to_hex(host_bytes(session.trace));
  EXPECT_TRUE(contains(session.run.err, sjis("メモ:") + " file not found")) << session.run.err;
}

TEST(QvdirFailures, AnUnknownTargetOrARefusalPrintsNoList) {
  FileSession unknown = run_file_program("qvdir", {"X:"}, {}, {{"A", "a"}});
  EXPECT_EQ(unknown.run.exit_code, 2);
  EXPECT_EQ(unknown.run.out, "");
  EXPECT_EQ(after_banner(unknown.run.err), announcement() + "oX: file not found\n");
  EXPECT_NE(host_bytes(unknown.trace).find(packet(1, with_nul("RFFX:"))), std::string::npos);

  FileSession refused = run_file_program("qvdir", {}, {"--refuse"}, {{"A", "a"}});
  EXPECT_EQ(refused.run.exit_code, 2);
  EXPECT_EQ(refused.run.out, "");
  EXPECT_EQ(after_banner(refused.run.err),
            announcement() + sjis("Zaurus が未接続または待機状態にありません") + "\n");
}

TEST(QvdirFailures, APacketErrorPrintsThePartButFails) {
  std::vector<std::pair<std::string, std::string>> files;
  std::string list;
  for (int i = 10; i < 70; ++i) {  // 60 lines of 7 bytes: two Packets
    files.push_back({std::string("F") + std::to_string(i), "x"});
    list += std::string("F") + std::to_string(i) + " 1\r\n";
  }
  FileSession session = run_file_program("qvdir", {}, {"--wrong-tag", "2"}, files);
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(session.run.out, list.substr(0, 253));
  EXPECT_EQ(after_banner(session.run.err), announcement() + "oopacket error\n end\n");
}

TEST(QvdirFailures, AnOverlongPacketPrintsNoList) {
  FileSession session = run_file_program("qvdir", {}, {"--long-data"}, {{"A", "a"}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(session.run.out, "");
  EXPECT_NE(session.run.err.find("packet too long\n"), std::string::npos);
  EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{});
}

TEST(QvdirUsage, BadCommandLinesShowTheUsageAndTouchNoPort) {
  using Refusal = std::pair<std::vector<std::string>, std::string>;
  for (const auto& [args, reason] : std::vector<Refusal>{{{"S1:", "-x"}, "unknown option letter 'x' in '-x'"},
                                                         {{"-d"}, "-d needs a port name (-d /dev/ttyUSB0)"},
                                                         {{"--all"}, "unknown option '--all'"},
                                                         {{"-Cx"}, "unknown option letter 'x' in '-Cx'"}}) {
    SCOPED_TRACE(args[0]);
    RunResult run = run_program("qvdir", args);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(after_banner(run.err), "qvdir: " + reason + "\nusage: qvdir [-s0|1|2] [<ZAURUS FileName>]\r\n" +
                                         "qvdir also takes -d <port> and -C. Try 'qvdir --help'\n");
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
