// Every way a qvcopy copy can fail: on the host (files that cannot be read
// or made, names too long for a request, a save cut short) and on the
// device (a missing file, a refusal, Packets it should not send). A failed
// copy leaves no file cut short behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/e2e.h"
#include "support/e2e_wine.h"
#include "support/file_session.h"

namespace {

TEST(QvcopyFailures, AMissingOrUnreadableHostFileSendsNothing) {
  for (const char* name : {"missing.txt", "."}) {
    FileSession session = run_file_program("qvcopy", {name, "TARGET"});
    EXPECT_EQ(session.run.exit_code, 2);
    EXPECT_EQ(after_banner(session.run.err), std::string(name) + ":file open error\n");
    EXPECT_EQ(host_bytes(session.trace), "");
    EXPECT_FALSE(file_exists(session.storage + "/TARGET"));
  }
}

TEST(QvcopyFailures, DeviceNamesTooLongForARequestAreRefusedBeforeAnythingIsSent) {
  const std::string write_name(4090, 'w');  // "RFDS1:" + 4089 bytes + NUL fill the work buffer
  FileSession up = run_file_program("qvcopy", {"a.txt", write_name}, {}, {}, {{"a.txt", "a"}});
  EXPECT_EQ(up.run.exit_code, 2);
  EXPECT_EQ(after_banner(up.run.err), write_name + ": file name too long for a request\n");
  EXPECT_EQ(host_bytes(up.trace), "");

  const std::string read_name(4087, 'r');  // "RFV", capacity, "S1:" + 4086 bytes + NUL fill it
  FileSession down = run_file_program("qvcopy", {"-g", read_name, "out"});
  EXPECT_EQ(down.run.exit_code, 2);
  EXPECT_EQ(after_banner(down.run.err), read_name + ": file name too long for a request\n");
  EXPECT_EQ(host_bytes(down.trace), "");
  EXPECT_FALSE(file_exists(down.host + "/out"));
}

TEST(QvcopyFailures, AHostFileThatCannotBeCreatedIsRefusedBeforeTheFetch) {
  FileSession session = run_file_program("qvcopy", {"-g", "A.TXT", "no-folder/a.txt"}, {}, {{"A.TXT", "a"}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err), sjis("ファイルが作れません") + "\n");
  EXPECT_EQ(host_bytes(session.trace), "");
}

// A writable file in a folder this user may not write: its new copy cannot
// be made beside it, and a file is never written in place. The fetch is
// refused before anything goes on the line, with the reason in words.
TEST(QvcopyFailures, AWritableFileInAFolderThatCannotBeWrittenIsRefusedBeforeTheFetch) {
  const bool as_root = geteuid() == 0;
  if (as_root && wine_mode()) {
    GTEST_SKIP() << "root writes any folder, and Wine runs only as its prefix's owner, so no other user can";
  }
  const std::string base = make_temp_dir();
  const std::string locked = base + "/locked";
  ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
  write_file(locked + "/kept.txt", "the good old copy");
  RunOptions options;
  options.working_dir = locked;
  Emulator emulator = start_emulator();
  write_file(emulator.storage_dir + "/A.TXT", "new");
  if (as_root) {  // as nobody, the file's owner, reaching the folder and the port
    options.user_id = 65534;
    ASSERT_EQ(chown((locked + "/kept.txt").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(base.c_str(), 0755), 0);
    ASSERT_EQ(chmod(emulator.pty_path.c_str(), 0666), 0);
  }
  ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
  RunResult run = run_device_program(emulator, "qvcopy", {"-g", "A.TXT", "kept.txt"}, options);
  const std::string trace = stop_emulator(emulator);
  chmod(locked.c_str(), 0755);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(after_banner(run.err), sjis("ファイルが作れません") +
                                       "\nkept.txt: the folder cannot be written, and a file is first saved whole "
                                       "under another name there\n");
  EXPECT_EQ(host_bytes(trace), "");
  EXPECT_EQ(read_file(locked + "/kept.txt"), "the good old copy");
}

TEST(QvcopyFailures, ASaveCutByTheFileSizeLimitLeavesTheOldFileAndNoTemporaryFile) {
  // Under Wine, where a fetch runs at a few KiB/s, the same cut on fewer bytes.
  RunOptions limited;
  limited.file_size_limit = wine_mode() ? 4096 : 65536;
  const std::size_t size = wine_mode() ? 8000 : 100000;
  FileSession session = run_file_program("qvcopy", {"-g", "NEW.BIN", "kept.bin"}, {}, {{"NEW.BIN", binary_file(size)}},
                                         {{"kept.bin", "the good old copy"}}, limited);
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_NE(session.run.err.find(sjis("ファイルが作れません")), std::string::npos);
  const std::string kept = read_file(session.host + "/kept.bin");
  EXPECT_TRUE(kept == "the good old copy") << "the old copy now holds " << kept.size() << " bytes";
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(session.host)) left.push_back(entry.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"kept.bin"});
}

TEST(QvcopyFailures, AMissingDeviceFileCreatesNothing) {
  FileSession session = run_file_program("qvcopy", {"-g", "NOPE.TXT"});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err), "oNOPE.TXT file not found\n");
  EXPECT_FALSE(file_exists(session.host + "/NOPE.TXT"));
  expect_clean_line(session);
}

TEST(QvcopyFailures, ARefusingDeviceIsNotDoneInEitherDirection) {
  const std::string not_connected = sjis("Zaurus が未接続または待機状態にありません") + "\n";
  FileSession up = run_file_program("qvcopy", {"a.txt"}, {"--refuse"}, {}, {{"a.txt", "a"}});
  EXPECT_EQ(up.run.exit_code, 2);
  EXPECT_EQ(after_banner(up.run.err), not_connected);
  FileSession down = run_file_program("qvcopy", {"-g", "A"}, {"--refuse"}, {{"A", "a"}});
  EXPECT_EQ(down.run.exit_code, 2);
  EXPECT_EQ(after_banner(down.run.err), not_connected);
  EXPECT_FALSE(file_exists(down.host + "/A"));
}

TEST(QvcopyFailures, AStoreTheDeviceDoesNotConfirmIsNotDone) {
  FileSession session = run_file_program("qvcopy", {"a.txt"}, {"--refuse-store"}, {}, {{"a.txt", "a"}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err), "oa.txt" + sjis(":送信に失敗しました") + "\n");
}

TEST(QvcopyFailures, MoreThanTheAnnouncedCapacityIsFollowedToTheEndButNotSaved) {
  std::vector<std::string> args = fetch_room().option;
  args.insert(args.end(), {"-g", "BIG"});
  FileSession session = run_file_program("qvcopy", args, {"--overrun", "10"}, {{"BIG", "small"}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_NE(session.run.err.find("BIG: too large for the host's buffer, not received\n end\n"), std::string::npos);
  EXPECT_FALSE(file_exists(session.host + "/BIG"));
  // The device was acknowledged to its EOT and went back to idle in step.
  expect_clean_line(session);
}

TEST(QvcopyFailures, APacketLongerThanTheWorkBufferIsNotSaved) {
  FileSession session = run_file_program("qvcopy", {"-g", "L"}, {"--long-data"}, {{"L", "x"}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_NE(session.run.err.find("packet too long\n"), std::string::npos);
  EXPECT_FALSE(file_exists(session.host + "/L"));
  expect_clean_line(session);
}

TEST(QvcopyFailures, APacketErrorIsAFailureNotACutShortFile) {
  FileSession session = run_file_program("qvcopy", {"-g", "T"}, {"--wrong-tag", "2"}, {{"T", binary_file(600)}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err), "oopacket error\n end\n");
  EXPECT_FALSE(file_exists(session.host + "/T"));
  expect_clean_line(session);
}

TEST(QvcopyFailures, AngInTheMiddleOfTheTrainIsNotFound) {
  FileSession session = run_file_program("qvcopy", {"-g", "M"}, {"--ang-at", "2"}, {{"M", binary_file(600)}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err), "ooM file not found\n");
  EXPECT_FALSE(file_exists(session.host + "/M"));
}

}  // namespace
