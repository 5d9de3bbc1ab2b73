// qvinstall's transfers against the emulated device: the exact bytes of the
// add-in probe, the write requests and the end-of-text Packet, packages and
// programs stored byte for byte, the list's header and format cases, and
// refused Packets sent again.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/e2e.h"
#include "support/qvinstall_session.h"

namespace {

using namespace qvinstall_e2e;

const std::string hello_request = from_hex("01 01 FE 10 00 52 46 44 53 31 3A 48 45 4C 4C 4F 2E 42 41 53 00 12 04");
const std::string end_of_text_packet = from_hex("01 04 FB 04 00 52 46 44 1A F6 00");
const std::string cfd_packet = from_hex("01 01 FE 03 00 43 46 44 CD 00");
const std::string cle_packet = from_hex("01 01 FE 03 00 43 4C 45 D4 00");

std::string done_line(const std::string& progress) {
  return progress + sjis(" 終了") + "\n";
}

const std::string& completion() {
  static const std::string line = sjis("送信完了 Zaurus本体を再起動します") + "\n";
  return line;
}

// Bytes of a file that differ from one position to the next.
std::string counting_bytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 1);
  return bytes;
}

TEST(QvinstallPackage, TwoFilesWithEndMarkGoOverTheLineExactly) {
  Session session;
  const std::string hello = counting_bytes(300);  // two data Packets
  const std::string data = "10 PRINT \"HI\"\r\n";
  session.put("hello.bas", hello);
  session.put("data.txt", data);
  session.put("readme.txt", sjis("はじめに") + "\r\nline two\r\n");
  session.put("hello.zrs", "ZRS,P," + sjis("ハロー") + "\r\nreadme.txt\r\nhello.bas\r\ndata.txt\r\n");
  session.install({}, {"-t", "hello.zrs"});

  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(session.run.out, "");
  EXPECT_EQ(after_banner(session.run.err), title_lines("ハロー") + sjis("はじめに") +
                                               "\nline two\n--\n" + done_line("hello.bas:ooT") +
                                               done_line("data.txt:o") + completion());

  const std::string host = host_bytes(session.trace);
  EXPECT_TRUE(contains(host, probe_packet + "\x04\x05\x06\x06")) << to_hex(host);
  const std::string first_train = hello_request + from_hex("01 02 FD 00 01") + "RFD";
  EXPECT_TRUE(contains(host, first_train)) << to_hex(host);
  // Straight after the second data Packet (47 file bytes), under number 4.
  const std::size_t second = host.find(from_hex("01 03 FC 32 00 52 46 44"));
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(host.substr(second + 5 + 50 + 2, end_of_text_packet.size() + 1), end_of_text_packet + "\x04");
  const std::string end_of_text_payload = from_hex("04 00 52 46 44 1A");
  EXPECT_EQ(host.find(end_of_text_payload), host.rfind(end_of_text_payload)) << "one end-of-text Packet in the run";
  EXPECT_TRUE(host.ends_with(cle_packet + from_hex("04 05 06 06"))) << to_hex(host);

  EXPECT_EQ(session.stored("DATA.TXT"), data);
  // The device keeps the end-of-text byte or drops it; the file's own bytes are all there.
  const std::string stored = session.stored("HELLO.BAS");
  EXPECT_EQ(stored.substr(0, hello.size()), hello);
  EXPECT_LE(stored.size(), hello.size() + 1);
  EXPECT_TRUE(has_event(session.trace, "add-in probe"));
  EXPECT_TRUE(has_event(session.trace, "end-of-text"));
  EXPECT_TRUE(has_event(session.trace, "reset"));
  EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{});
}

TEST(QvinstallPackage, TheListCanComeFromStandardInput) {
  Session session;
  session.put("a.txt", "alpha");
  session.install({"--no-echo"}, {"-C", "-D", "-"}, "ZRS,P,stdin\nno-such-description\na.txt\n");
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_EQ(after_banner(session.run.err), title_lines("stdin") + done_line("a.txt:o") + completion());
  EXPECT_EQ(session.stored("A.TXT"), "alpha");
  EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{});
}

TEST(QvinstallPackage, AListThatFailsItsHeaderNeverReachesTheLine) {
  for (const std::string& list : {std::string("zrs,p,lower\nx\n"), std::string(" ZRS,P,space\n"), std::string("")}) {
    SCOPED_TRACE(to_hex(list));
    Session session;
    session.put("bad.zrs", list);
    session.install({}, {"bad.zrs"});
    EXPECT_EQ(session.run.exit_code, 2);
    EXPECT_EQ(after_banner(session.run.err), "bad.zrs" + sjis(":フォーマットエラー") + "\n");
    EXPECT_TRUE(trace_units(session.trace).empty()) << session.trace;
  }
  Session session;
  session.install({}, {"absent.zrs"});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err), "absent.zrs" + sjis(":がオープンできません") + "\n");
  EXPECT_TRUE(trace_units(session.trace).empty()) << session.trace;
}

TEST(QvinstallPackage, DescriptionsShowAtMostFiveLines) {
  for (const auto& [description, shown] : std::vector<std::pair<std::string, std::string>>{
           {"one\ntwo\nthree\n", "one\ntwo\nthree\n"}, {"1\n2\n3\n4\n5\n6\n7\n8\n", "1\n2\n3\n4\n5\n"}}) {
    Session session;
    session.put("desc.txt", description);
    session.put("p.zrs", "ZRS,P,\ndesc.txt\n");
    session.install({}, {"p.zrs"});
    EXPECT_EQ(session.run.exit_code, 0);
    EXPECT_EQ(after_banner(session.run.err), title_lines("") + shown + "--\n" + completion());
    EXPECT_TRUE(has_event(session.trace, "reset"));
  }
}

TEST(QvinstallPackage, AMissingFileIsReportedAndTheNextOneStillGoes) {
  Session session;
  session.put("good.txt", "good");
  session.put("p.zrs", "ZRS,P,T\n\nmissing.txt\n\x1A\ngood.txt\n");
  session.install({}, {"p.zrs"});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_EQ(after_banner(session.run.err), title_lines("T") + "--\nmissing.txt" +
                                               sjis(":送信ファイルがオープンできません") + "\n" +
                                               done_line("good.txt:o") + completion());
  EXPECT_EQ(session.stored("GOOD.TXT"), "good");
  EXPECT_TRUE(has_event(session.trace, "reset"));
  // After the consent to the first "CFD" nothing came but the next "CFD".
  EXPECT_TRUE(contains(host_bytes(session.trace), cfd_packet + from_hex("04 05 06 06") + cfd_packet));
  EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{});
}

TEST(QvinstallPackage, EmptyAndFullBlockFilesNeedNoEmptyPacket) {
  Session session;
  const std::string full = counting_bytes(253);
  session.put("empty.dat", "");
  session.put("full.dat", full);
  session.put("p.zrs", "ZRS,P,sizes\n\nempty.dat\nfull.dat\n");
  session.install({}, {"p.zrs"});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_TRUE(contains(session.run.err, done_line("empty.dat:") + done_line("full.dat:o")));
  EXPECT_EQ(session.stored("EMPTY.DAT"), "");
  EXPECT_EQ(session.stored("FULL.DAT"), full);
  const std::string host = host_bytes(session.trace);
  // The empty file: its request, then straight to EOT; the full one: one
  // 256-byte Packet, then EOT.
  EXPECT_TRUE(contains(host, from_hex("01 01 FE 10 00") + std::string("RFDS1:EMPTY.DAT\0", 16)));
  const std::size_t data = host.find(from_hex("01 02 FD 00 01 52 46 44"));
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(host[data + 5 + 256 + 2], '\x04');
  EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{});
}

TEST(QvinstallRepeats, NakedPacketsGoAgainUnderFreshNumbers) {
  Session session;
  const std::string content = counting_bytes(20);
  session.put("hello.bas", content);
  session.install({"--nak-request", "--nak-data", "1", "--nak-command", "1", "--nak-eot", "1"},
                  {"-q", "-R", "hello.bas"});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  // A NAK to the EOT may be the late answer to the last data Packet, taken
  // for a stray byte: the file is read back before it counts as sent.
  EXPECT_EQ(after_banner(session.run.err),
            done_line("hello.bas:oo") + "oo end\nHELLO.BAS: the line was not clean during the write; read back, the " +
                "file is whole\n" + sjis("送信完了") + "\n");
  const std::string host = host_bytes(session.trace);
  std::string second_request = hello_request;
  second_request[1] = 0x02;
  second_request[2] = static_cast<char>(0xFD);
  EXPECT_TRUE(contains(host, hello_request + second_request + from_hex("01 03 FC 17 00 52 46 44") + content))
      << to_hex(host);
  EXPECT_TRUE(contains(host, from_hex("01 04 FB 17 00 52 46 44") + content));
  EXPECT_EQ(session.stored("HELLO.BAS"), content);
  EXPECT_FALSE(contains(host, cle_packet));  // -R: no reset
  EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{});
}

TEST(QvinstallRepeats, ARefusedEndOfTextPacketKeepsItsNumber) {
  Session session;
  session.put("a.txt", "abc");
  session.install({"--nak-data", "2"}, {"-q", "-t", "a.txt"});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  const std::string end_mark = from_hex("01 03 FC 04 00 52 46 44 1A F6 00");
  EXPECT_TRUE(contains(host_bytes(session.trace), end_mark + end_mark + "\x04")) << to_hex(host_bytes(session.trace));
  EXPECT_TRUE(contains(session.run.err, done_line("a.txt:oT")));
  EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{});
}

TEST(QvinstallProgram, OneFileIsSentAndTheDeviceReset) {
  Session session;
  const std::string content = counting_bytes(600);
  session.put("hello.bas", content);
  session.install({}, {"-q", "hello.bas"});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(after_banner(session.run.err), done_line("hello.bas:ooo") + sjis("送信完了") + "\n");
  const std::string host = host_bytes(session.trace);
  EXPECT_TRUE(contains(host, cfd_packet + from_hex("04 05 06 06") + hello_request)) << to_hex(host);
  EXPECT_TRUE(host.ends_with(cle_packet + from_hex("04 05 06 06")));
  EXPECT_EQ(session.stored("HELLO.BAS"), content);
  EXPECT_TRUE(has_event(session.trace, "reset"));
}
}  // namespace
