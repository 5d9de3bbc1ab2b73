// qvcopy's copies against the emulated device: the exact Packets each way,
// round trips byte for byte, the room a fetch works against, and damaged or
// refused Packets repeated until the copy is whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

// "qvcopy -g LOG.TXT /dev/stdout >> all.txt": the fetched file goes through
// the descriptor the shell opened, after what all.txt held, rather than a
// new file renamed over it; "> out.txt" likewise gets just the file.
TEST(QvcopyFetch, ToStandardOutputTheShellsFileIsWrittenThrough) {
  if (wine_mode()) GTEST_SKIP() << "/dev/stdout is a POSIX name";
  for (bool appended : {true, false}) {
    SCOPED_TRACE(appended ? ">>" : ">");
    const std::string folder = make_temp_dir();
    const std::string out = folder + "/all.txt";
    write_file(out, appended ? "earlier\n" : "");
    RunOptions options;
    options.output_file = out;
    options.output_appended = appended;
    FileSession session =
        run_file_program("qvcopy", {"-g", "LOG.TXT", "/dev/stdout"}, {}, {{"LOG.TXT", "fetched\n"}}, {}, options);
    EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
    EXPECT_EQ(read_file(out), appended ? "earlier\nfetched\n" : "fetched\n");
    // No temporary file was made beside it to take its place.
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) entries.push_back(entry.path().filename());
    EXPECT_EQ(entries, std::vector<std::string>{"all.txt"});
  }
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
