// qvcopy's command line: which names it takes for the host file and the
// device file, grouped option letters, and the usage shown for a line it
// refuses before it touches the port.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/e2e.h"
#include "support/e2e_wine.h"
#include "support/file_session.h"

namespace {

TEST(QvcopyNames, AThirdNameIsRefusedAndNothingIsSent) {
  FileSession session = run_file_program("qvcopy", {"x", "y", "z"}, {}, {}, {{"x", "X"}, {"y", "Y"}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_NE(session.run.err.find("qvcopy: 'z': one name too many ('y' is named already)\n"), std::string::npos)
      << session.run.err;
  EXPECT_FALSE(file_exists(session.storage + "/z"));
  EXPECT_FALSE(file_exists(session.storage + "/y"));
  EXPECT_EQ(host_bytes(session.trace), "");
}

TEST(QvcopyNames, TheDeviceNameDefaultsToTheHostFilesBaseName) {
  const std::string elsewhere = make_temp_dir();
  write_file(elsewhere + "/memo.txt", "memo");
  const std::string folder = elsewhere.substr(elsewhere.rfind('/') + 1);
  std::vector<std::string> paths{"../" + folder + "/memo.txt"};
  if (wine_mode()) {
    // Windows separates with "\" too, and a drive is no part of a name.
    paths.insert(paths.end(), {"..\\" + folder + "\\memo.txt", "Z:" + elsewhere + "/memo.txt"});
  }
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    FileSession session = run_file_program("qvcopy", {path});
    EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
    EXPECT_NE(host_bytes(session.trace).find(packet(1, with_nul("RFDS1:memo.txt"))), std::string::npos)
        << session.trace;
    EXPECT_EQ(read_file(session.storage + "/memo.txt"), "memo");
    expect_clean_line(session);
  }
  // An explicit device name is used as given; a fetched file keeps the
  // device name in the current folder.
  FileSession named = run_file_program("qvcopy", {"../" + folder + "/memo.txt", "Other.Txt"});
  EXPECT_EQ(read_file(named.storage + "/Other.Txt"), "memo");
}

TEST(QvcopyNames, ALoneDashIsAFileName) {
  FileSession session = run_file_program("qvcopy", {"-", "DASH"}, {}, {}, {{"-", "from a file named -"}});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(read_file(session.storage + "/DASH"), "from a file named -");
}

// Letters grouped after one dash are each honoured: "-vg" fetches, where
// reading the second character alone made it a send over the device file.
TEST(QvcopyCommandLine, GroupedLettersFetchAndTheRoomMayFollowApart) {
  const std::string content(5000, 'n');
  FileSession fetched = run_file_program("qvcopy", {"-vgm", "8K", "NAME"}, {}, {{"NAME", content}});
  EXPECT_EQ(fetched.run.exit_code, 0) << fetched.run.err;
  EXPECT_EQ(read_file(fetched.host + "/NAME"), content);
  EXPECT_EQ(read_file(fetched.storage + "/NAME"), content);
  EXPECT_FALSE(contains(host_bytes(fetched.trace), "RFDS1:")) << "something was sent";
  FileSession small = run_file_program("qvcopy", {"-g", "-m", "4K", "NAME"}, {}, {{"NAME", content}});
  EXPECT_EQ(small.run.exit_code, 2);
  EXPECT_TRUE(contains(small.run.err, "NAME: larger than 4096 bytes")) << small.run.err;
}

TEST(QvcopyUsage, BadCommandLinesShowTheUsageAndTouchNoPort) {
  const std::string usage =
      "usage: qvcopy    [-s0|1|2] <fileX68> [<fileZAU>]      (X68K->ZAURUS)\r\n"
      "       qvcopy -g [-s0|1|2] <fileZAU> [<fileX68>]      (ZAURUS->X68K)\r\n";
  const std::string more = "qvcopy also takes -d <port>, -C, -v and -m<size>. Try 'qvcopy --help'\n";
  // Each refusal names what was wrong before the usage text.
  using Refusal = std::pair<std::vector<std::string>, std::string>;
  for (const auto& [args, reason] : std::vector<Refusal>{
           {{}, "no file named"},
           {{"a.txt", "-x"}, "unknown option letter 'x' in '-x'"},
           {{"-g"}, "no file named"},
           {{"a.txt", "-d"}, "-d needs a port name (-d /dev/ttyUSB0)"},
           {{"--force", "a.txt"}, "unknown option '--force'"},
           // A typo beside -g must not turn a fetch into a send.
           {{"-gx", "NAME"}, "unknown option letter 'x' in '-gx'"},
           {{"-g", "-m", "big", "NAME"}, "'big' is no size for -m: a number of bytes, or one followed by K or M, at "
                                         "most 16777214"},
           {{"-s12", "a.txt"}, "'-s12': -s takes one digit (-s0, -s1 or -s2)"},
       }) {
    SCOPED_TRACE(args.empty() ? "no arguments" : args[0]);
    RunResult run = run_program("qvcopy", args);
    EXPECT_EQ(run.exit_code, 2);  // a script must not take a typo for a copy
    EXPECT_EQ(after_banner(run.err), "qvcopy: " + reason + "\n" + usage + more);
    EXPECT_EQ(run.out, "");
  }
  FileSession session = run_file_program("qvcopy", {"a.txt", "-q"});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(host_bytes(session.trace), "");
}

}  // namespace
