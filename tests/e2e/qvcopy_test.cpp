// qvcopy against the emulated device: round trips byte for byte, the exact
// Packets, the name rules, and every way a copy can fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "support/e2e.h"
#include "support/e2e_wine.h"
#include "support/file_session.h"

namespace {

const std::string ack(1, '\x06');

std::string banner() {
  return sjis(program_title("qvcopy", "ZAURUS ファイルダイレクト転送"));
}

std::string read_request(const std::string& name) {
  // Without -m the room is the most the 24-bit field can announce, less the
  // one byte that shows a file the device cut at the announced capacity.
  return packet(1, std::string("RFV\xFF\xFF\xFFS1:", 9) + with_nul(name));
}

TEST(QvcopyLine, SendsAFileAsExactlyTheseUnits) {
  FileSession session = run_file_program("qvcopy", {"a.txt"}, {}, {}, {{"a.txt", "hello"}});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(session.run.out, "");
  EXPECT_EQ(session.run.err.rfind(banner(), 0), 0u);
  EXPECT_EQ(after_banner(session.run.err), "o end\n");
  EXPECT_EQ(to_hex(host_bytes(session.trace)),
            to_hex(host_opening("CFD") + packet(1, with_nul("RFDS1:a.txt")) + packet(2, "RFDhello") +
                   "\x04\x05\x06\x06"));
  EXPECT_EQ(to_hex(device_bytes(session.trace)),
            to_hex(device_opening() + ack + ack + ack + packet(1, "AEX") + "\x04\x05"));
  EXPECT_EQ(read_file(session.storage + "/a.txt"), "hello");
  expect_clean_line(session);
}

TEST(QvcopyLine, FetchesAFileAsExactlyTheseUnits) {
  std::string file = binary_file(300);
  FileSession session = run_file_program("qvcopy", {"-g", "B.TXT"}, {}, {{"B.TXT", file}});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(after_banner(session.run.err), "ooo end\n");
  EXPECT_EQ(to_hex(host_bytes(session.trace)),
            to_hex(host_opening("CFV") + read_request("B.TXT") + "\x04\x05\x06\x06\x06"));
  EXPECT_EQ(to_hex(device_bytes(session.trace)),
            to_hex(device_opening() + ack + ack + packet(1, "AFV" + file.substr(0, 253)) +
                   packet(2, "AFV" + file.substr(253)) + "\x04\x05"));
  // The host file is created in the working folder under the device name.
  EXPECT_EQ(read_file(session.host + "/B.TXT"), file);
  expect_clean_line(session);
}

TEST(QvcopyRoundTrip, EverySizeBothWaysWithAndWithoutEcho) {
  struct Link {
    std::vector<std::string> emulator;
    std::vector<std::string> program;
  };
  // Natively the largest file takes the Packet number past 255. Under Wine
  // every byte costs a round of Win32 calls through the Wine server, and the
  // number's wrap is the protocol's, not the port's: a dozen Packets do.
  const std::size_t largest = wine_mode() ? 3000u : 70000u;
  for (const Link& link : {Link{{}, {}}, Link{{"--no-echo"}, {"-C"}}}) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{253}, std::size_t{506}, largest}) {
      SCOPED_TRACE(std::to_string(size) + (link.program.empty() ? " echo" : " no echo"));
      std::string file = binary_file(size);
      std::vector<std::string> send = link.program;
      send.insert(send.end(), {"up.bin", "Dev.Bin"});
      FileSession up = run_file_program("qvcopy", send, link.emulator, {}, {{"up.bin", file}});
      EXPECT_EQ(up.run.exit_code, 0) << up.run.err;
      ASSERT_TRUE(file_exists(up.storage + "/Dev.Bin"));  // the device name keeps its case
      EXPECT_TRUE(read_file(up.storage + "/Dev.Bin") == file);
      expect_clean_line(up);

      std::vector<std::string> fetch = link.program;
      fetch.insert(fetch.end(), {"-g", "Dev.Bin", "down.bin"});
      FileSession down = run_file_program("qvcopy", fetch, link.emulator, {{"Dev.Bin", file}});
      EXPECT_EQ(down.run.exit_code, 0) << down.run.err;
      ASSERT_TRUE(file_exists(down.host + "/down.bin"));  // an empty file too
      EXPECT_TRUE(read_file(down.host + "/down.bin") == file);
      EXPECT_EQ(down.run.err.find(sjis("ファイルが作れません")), std::string::npos);
      expect_clean_line(down);
    }
  }
}

TEST(QvcopyRoom, AFileLargerThanTheRoomIsNeverSavedCutAndMRaisesTheRoom) {
  const FetchRoom room = fetch_room();
  const std::string big = binary_file(room.larger_file);
  std::vector<std::string> args = room.option;
  args.insert(args.end(), {"-g", "BIG.BIN"});
  FileSession refused = run_file_program("qvcopy", args, {}, {{"BIG.BIN", big}});
  EXPECT_EQ(refused.run.exit_code, 2);
  EXPECT_NE(refused.run.err.find(" end\nBIG.BIN: larger than " + std::to_string(room.bytes) +
                                 " bytes, not received (raise the room with -m)\n"),
            std::string::npos)
      << refused.run.err;
  EXPECT_FALSE(file_exists(refused.host + "/BIG.BIN"));
  expect_clean_line(refused);

  const std::string raise = "-m" + std::to_string(big.size());
  FileSession raised = run_file_program("qvcopy", {raise, "-g", "BIG.BIN"}, {}, {{"BIG.BIN", big}});
  EXPECT_EQ(raised.run.exit_code, 0) << raised.run.err;
  EXPECT_TRUE(read_file(raised.host + "/BIG.BIN") == big);
  EXPECT_NE(host_bytes(raised.trace).find("RFV" + announced_capacity(big.size()) + "S1:BIG.BIN"), std::string::npos);

  const std::string fits = binary_file(room.bytes);
  args = room.option;
  args.insert(args.end(), {"-g", "FITS.BIN"});
  FileSession whole = run_file_program("qvcopy", args, {}, {{"FITS.BIN", fits}});
  EXPECT_EQ(whole.run.exit_code, 0) << whole.run.err;
  EXPECT_TRUE(read_file(whole.host + "/FITS.BIN") == fits);
  expect_clean_line(whole);
}

// Without -m any file the device holds comes whole (a 1 MB one here, eight
// times the old fixed room), and it goes to the disk as it comes: the
// program's memory does not grow with the file. A fetch that held the file
// would peak 1024 KiB higher; the bound leaves room for the run-to-run
// spread of the peak (up to about 130 KiB between two fetches of the same
// file, and no more for a 4 MB one: buffers touched deeper in a longer run).
TEST(QvcopyRoom, AnyDeviceFileComesWholeWithoutMAndMemoryStaysFlat) {
  if (wine_mode()) GTEST_SKIP() << "the resident set of a Windows program under Wine is Wine's";
  const std::string small = binary_file(3000);
  const std::string large = binary_file(1 << 20);
  RunOptions measured;
  measured.measure_peak_memory = true;
  FileSession small_fetch = run_file_program("qvcopy", {"-g", "S.BIN"}, {}, {{"S.BIN", small}}, {}, measured);
  FileSession large_fetch = run_file_program("qvcopy", {"-g", "L.BIN"}, {}, {{"L.BIN", large}}, {}, measured);
  ASSERT_EQ(large_fetch.run.exit_code, 0) << large_fetch.run.err;
  EXPECT_TRUE(read_file(large_fetch.host + "/L.BIN") == large);
  EXPECT_NE(host_bytes(large_fetch.trace).find(read_request("L.BIN")), std::string::npos);
  ASSERT_GT(small_fetch.run.peak_memory_kb, 0);
  EXPECT_LT(large_fetch.run.peak_memory_kb - small_fetch.run.peak_memory_kb, 512)
      << "small " << small_fetch.run.peak_memory_kb << " KiB, large " << large_fetch.run.peak_memory_kb << " KiB";
}

TEST(QvcopyNames, ThreeNamesUseTheFirstAndTheLast) {
  FileSession session = run_file_program("qvcopy", {"x", "y", "z"}, {}, {}, {{"x", "X"}, {"y", "Y"}});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(read_file(session.storage + "/z"), "X");
  EXPECT_FALSE(file_exists(session.storage + "/y"));
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

TEST(QvcopyRepeats, DamagedAndRefusedPacketsAreRepeatedAndTheCopyIsWhole) {
  std::string file = binary_file(600);
  FileSession down = run_file_program("qvcopy", {"-g", "D"}, {"--damage-data", "2"}, {{"D", file}});
  EXPECT_EQ(down.run.exit_code, 0);
  EXPECT_EQ(after_banner(down.run.err), "op-check sum error\noooo end\n");
  EXPECT_TRUE(read_file(down.host + "/D") == file);
  expect_clean_line(down);

  FileSession up = run_file_program("qvcopy", {"d", "D"}, {"--nak-request", "--nak-data", "2"}, {}, {{"d", file}});
  EXPECT_EQ(up.run.exit_code, 0);
  EXPECT_EQ(after_banner(up.run.err), "ooo end\n");
  EXPECT_TRUE(read_file(up.storage + "/D") == file);
  // Every transmission took a fresh number: the request as 1 and 2, the
  // data from 3, the refused second data Packet again as 5.
  std::string request = with_nul("RFDS1:D");
  std::string expected = host_opening("CFD") + packet(1, request) + packet(2, request) +
                         packet(3, "RFD" + file.substr(0, 253)) + packet(4, "RFD" + file.substr(253, 253)) +
                         packet(5, "RFD" + file.substr(253, 253)) + packet(6, "RFD" + file.substr(506)) +
                         "\x04\x05\x06\x06";
  EXPECT_EQ(to_hex(host_bytes(up.trace)), to_hex(expected));
  expect_clean_line(up);
}

}  // namespace
