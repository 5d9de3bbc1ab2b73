// What qvinstall refuses, or finds refused: a device without the add-in
// or not ready, a file the device does not store, and command lines it
// rejects before it touches the line.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/e2e.h"
#include "support/qvinstall_session.h"

namespace {

using namespace qvinstall_e2e;

TEST(QvinstallRefusal, NoAddinNoFilesAndNoReset) {
  Session session;
  session.put("a.txt", "abc");
  session.put("p.zrs", "ZRS,P,T\n\na.txt\n");
  session.install({"--no-addin"}, {"p.zrs"});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err), title_lines("T") + "--\n" +
                                               sjis("addin 機能は使用できません") + "\n");
  const std::string host = host_bytes(session.trace);
  EXPECT_TRUE(host.ends_with(probe_packet + from_hex("04 05 06 06"))) << to_hex(host);
  EXPECT_FALSE(file_exists(session.storage_dir + "/A.TXT"));
}

TEST(QvinstallRefusal, ARefusingDeviceOrAnOverlongReplyIsNotConnected) {
  for (const char* fault : {"--refuse", "--long-reply"}) {
    SCOPED_TRACE(fault);
    Session session;
    session.put("a.bas", "abc");
    session.install({fault}, {"-q", "a.bas"});
    EXPECT_EQ(session.run.exit_code, 2);
    EXPECT_TRUE(session.run.err.ends_with(sjis("Zaurus が未接続または待機状態にありません") + "\n")) << session.run.err;
    EXPECT_FALSE(contains(host_bytes(session.trace), probe_packet));
  }
}

TEST(QvinstallRefusal, ADeviceThatDoesNotStoreTheFileMeansNotDone) {
  Session session;
  session.put("a.bas", "abc");
  session.install({"--refuse-store"}, {"-q", "a.bas"});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err), "a.bas:oA.BAS" + sjis(":送信に失敗しました") + "\n" + sjis("送信完了") + "\n");
  EXPECT_TRUE(has_event(session.trace, "reset"));
}

TEST(QvinstallUsage, RejectedCommandLinesAndOverlongNamesLeaveTheLineAlone) {
  const std::string usage =
      "usage: qvinstall    [-s0|1|2] [-t] [-D] <file>.zrs\n"
      "       qvinstall -q [-s0|1|2] [-t] [-R] <file>.bas\n";
  using Refusal = std::pair<std::vector<std::string>, std::string>;
  for (const auto& [args, reason] : std::vector<Refusal>{
           {{}, "no package list or program file named"},
           {{"p.zrs", "-x"}, "unknown option letter 'x' in '-x'"},
           {{"-t", "-r", "p.zrs"}, "unknown option letter 'r' in '-r'"},
           {{"--dry-run", "p.zrs"}, "unknown option '--dry-run'"},
           {{"-tDx", "p.zrs"}, "unknown option letter 'x' in '-tDx'"},
       }) {
    SCOPED_TRACE(args.empty() ? "no arguments" : args[0]);
    Session session;
    session.install({}, args);
    EXPECT_EQ(session.run.exit_code, 2);
    EXPECT_EQ(after_banner(session.run.err), "qvinstall: " + reason + "\n" + usage +
                                                 "qvinstall also takes -d <port>, -C and -v. Try 'qvinstall --help'\n");
    EXPECT_TRUE(trace_units(session.trace).empty());
  }
  Session session;
  const std::string name(2042, 'n');
  session.install({}, {"-q", name});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err), name + ":file name too long (at most 2041 bytes)\n");
  EXPECT_TRUE(trace_units(session.trace).empty());

  RunResult run = run_program("qvinstall", {"-d", std::string(80, 'p'), "p.zrs"});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(contains(run.err, "port name too long"));
}

}  // namespace
