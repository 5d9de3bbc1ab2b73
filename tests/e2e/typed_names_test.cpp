// Names typed in a UTF-8 shell reach the device in Shift-JIS: the locale
// decides, a terminal does not; a name Shift-JIS cannot hold is refused
// before the port opens.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/e2e.h"
#include "support/e2e_wine.h"
#include "support/file_session.h"

namespace {

// A Japanese device name typed on the command line reaches the line in
// Shift-JIS: natively through the UTF-8 locale, under Wine from the command
// line as typed, since the ANSI code page there is not 932 and the ANSI
// arguments hold "?" in its place.
TEST(TypedDeviceName, AJapaneseNameReachesTheLineInShiftJisAndOneWithoutAFormIsRefused) {
  RunOptions options;
  options.environment = {"LC_ALL=C.UTF-8"};
  FileSession sent = run_file_program("qvcopy", {"memo.txt", "メモ2.txt"}, {}, {}, {{"memo.txt", "memo"}}, options);
  EXPECT_EQ(sent.run.exit_code, 0) << sent.run.err;
  EXPECT_TRUE(contains(host_bytes(sent.trace), packet(1, with_nul("RFDS1:" + sjis("メモ2.txt")))))
      << to_hex(host_bytes(sent.trace));
  EXPECT_EQ(read_file(sent.storage + "/" + sjis("メモ2.txt")), "memo");
  FileSession refused =
      run_file_program("qvcopy", {"memo.txt", "smile\xf0\x9f\x98\x80.txt"}, {}, {}, {{"memo.txt", "memo"}}, options);
  EXPECT_EQ(refused.run.exit_code, 2) << refused.run.err;
  EXPECT_TRUE(contains(refused.run.err, ": the device cannot store this name")) << refused.run.err;
  EXPECT_EQ(host_bytes(refused.trace), "");
}

// Names typed in a UTF-8 shell: the locale decides, a terminal does not.
class TypedNames : public ::testing::Test {
 protected:
  void SetUp() override {
    // Wine gives a program its own ANSI code page, whatever the Linux locale.
    if (wine_mode()) GTEST_SKIP() << "Wine's code page does not follow LC_ALL";
  }
  FileSession copy(const std::string& locale, std::vector<std::string> args,
                   const std::vector<std::pair<std::string, std::string>>& device_files = {},
                   const std::vector<std::pair<std::string, std::string>>& host_files = {}) {
    return run_in_locale("qvcopy", locale, std::move(args), device_files, host_files);
  }
  FileSession run_in_locale(const std::string& program, const std::string& locale, std::vector<std::string> args,
                            const std::vector<std::pair<std::string, std::string>>& device_files,
                            const std::vector<std::pair<std::string, std::string>>& host_files) {
    RunOptions options;
    options.environment = {"LC_ALL=" + locale};
    return run_file_program(program, std::move(args), {}, device_files, host_files, options);
  }
};

TEST_F(TypedNames, AUtf8DeviceNameGoesOnTheLineInShiftJis) {
  FileSession session = copy("C.UTF-8", {"メモ2.txt"}, {}, {{"メモ2.txt", "memo"}});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_TRUE(contains(host_bytes(session.trace), packet(1, with_nul("RFDS1:" + sjis("メモ2.txt")))));
  EXPECT_EQ(read_file(session.storage + "/" + sjis("メモ2.txt")), "memo");
}

TEST_F(TypedNames, AFetchedFileKeepsTheNameAsTyped) {
  FileSession session = copy("C.UTF-8", {"-g", "メモ.TXT"}, {{sjis("メモ.TXT"), "fetched"}});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_EQ(read_file(session.host + "/メモ.TXT"), "fetched");
}

TEST_F(TypedNames, ANameShiftJisCannotHoldIsRefusedBeforeThePortOpens) {
  FileSession session = copy("C.UTF-8", {"caf\xc3\xa9\xf0\x9f\x98\x80.txt"}, {}, {{"caf\xc3\xa9\xf0\x9f\x98\x80.txt", "x"}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_TRUE(contains(session.run.err, "caf\xc3\xa9\xf0\x9f\x98\x80.txt: the device cannot store this name"))
      << session.run.err;
  EXPECT_EQ(host_bytes(session.trace), "");
}

TEST_F(TypedNames, AListedUtf8NameReachesTheDeviceInShiftJisUpperCase) {
  // "ヂ" is 83 61 in Shift-JIS: its second byte is an "a" that must stay.
  FileSession session = run_in_locale("qvinstall", "C.UTF-8", {"-R", "p.zrs"}, {},
                                       {{"p.zrs", "ZRS,P,t\r\nnone\r\nヂa.bas\r\n"}, {"ヂa.bas", "10 END"}});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_EQ(read_file(session.storage + "/" + sjis("ヂA.BAS")), "10 END");
}

TEST_F(TypedNames, AnInstallerProgramNameShiftJisCannotHoldOpensNoPort) {
  FileSession session = run_in_locale("qvinstall", "C.UTF-8", {"-q", "\xf0\x9f\x98\x80.bas"}, {},
                                       {{"\xf0\x9f\x98\x80.bas", "x"}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_TRUE(contains(session.run.err, "the device cannot store this name")) << session.run.err;
  EXPECT_EQ(host_bytes(session.trace), "");
}

TEST_F(TypedNames, TheCLocalePassesNamesUntranslated) {
  FileSession session = copy("C", {"メモ3.txt"}, {}, {{"メモ3.txt", "raw"}});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_EQ(read_file(session.storage + "/メモ3.txt"), "raw");
}

}  // namespace
