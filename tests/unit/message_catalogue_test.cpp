// The message catalogue: every entry usable on every console, and its values
// put in where they belong, also inside Shift-JIS text.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "pclink/console.h"
#include "pclink/messages.h"
#include "pclink/terminal_text.h"
#include "pclink/version.h"
#include "support/scripted_console.h"
#include "support/sjis.h"

namespace {

std::vector<const Message*> every_message() {
  std::vector<const Message*> all;
  for (std::span<const Message> section : message_catalogue) {
    for (const Message& message : section) all.push_back(&message);
  }
  return all;
}

bool is_plain_ascii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n';
  });
}

std::set<std::string_view> names_of(const char* text) {
  std::vector<std::string_view> names = message_value_names(text);
  return {names.begin(), names.end()};
}

TEST(MessageCatalogue, KeysAreUniqueAndEveryTextShowsOnAnyTerminal) {
  std::set<std::string> keys;
  for (const Message* message : every_message()) {
    SCOPED_TRACE(message->key);
    EXPECT_TRUE(keys.insert(message->key).second) << "a second message under this key";
    const std::string system = message->system;
    // A byte that begins no character would reach a terminal as an escape.
    EXPECT_TRUE(is_well_formed_shift_jis(system.data(), system.size()));
    // English is what the C locale's terminal gets: ASCII alone.
    EXPECT_TRUE(is_plain_ascii(message->english)) << message->english;
    EXPECT_EQ(names_of(message->english), names_of(message->system));
  }
}

TEST(MessageCatalogue, ValuesGoWhereTheirNamesStandAndRepeatByName) {
  const std::string group_line = message_bytes(msg("port_no_permission_group"), std::vector<std::string>{"/dev/x", "dialout"});
  EXPECT_EQ(group_line,
            "/dev/x: no permission to use the port; join the group dialout (sudo usermod -aG dialout $USER), then "
            "log in again");
  EXPECT_EQ(message_bytes(msg("beyond_room"), std::vector<std::string>{"A.TXT", "4096"}),
            "A.TXT: larger than 4096 bytes, not received (raise the room with -m)");
  // A value is put in as it is, braces and all, never looked into again.
  EXPECT_EQ(message_bytes(msg("device_file_missing"), std::vector<std::string>{"{name}"}), "{name} file not found");
  // A value that was not given leaves its place empty rather than reading beyond the list.
  EXPECT_EQ(message_bytes(msg("device_file_missing"), std::vector<std::string>{}), " file not found");
}

TEST(MessageCatalogue, ASecondByteThatLooksLikeABraceIsPartOfItsCharacter) {
  // フォーマットエラー: "マ" is 0x83 0x7D, its second byte "}".
  const std::string format_error = "\x83\x74\x83\x48\x81\x5b\x83\x7d\x83\x62\x83\x67\x83\x47\x83\x89\x81\x5b";
  EXPECT_EQ(message_bytes(msg("list_format_error"), std::vector<std::string>{"p.zrs"}), "p.zrs:" + format_error);
  // "{" (0x7B) as the second byte of "ボ" (0x83 0x7B), followed by what looks like a name and a brace.
  const Message shaped{"shaped", "\x83\x7bname}{name}", "{name}"};
  EXPECT_EQ(message_value_names(shaped.system), std::vector<std::string_view>{"name"});
  EXPECT_EQ(message_bytes(shaped, std::vector<std::string>{"x"}), "\x83\x7bname}x");
}

class MessageOnConsole : public ::testing::Test {
 protected:
  void TearDown() override { scripted_console::reset(); }
};

TEST_F(MessageOnConsole, APipeGetsTheSystemBytesAndATerminalSeesHostNamesHarmless) {
  ::testing::internal::CaptureStderr();
  print_message(msg("install_file_unreadable"), {host_value("a\x1b.bas")});
  print_banner(ConsoleStream::error, msg("title_qvrestart"), "\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "a\x1b.bas" + sjis(":送信ファイルがオープンできません") + "\nqvrestart v" + suite_version + " ZAURUS " +
                sjis("パソコンリンクリセット") + author_suffix + "\n");
  scripted_console::act_as_terminal(80);
  ::testing::internal::CaptureStderr();
  print_message(msg("install_file_unreadable"), {host_value("a\x1b.bas")});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "a\\x1b.bas" + sjis(":送信ファイルがオープンできません") + "\n");
}

TEST_F(MessageOnConsole, AnEnglishReadersTerminalGetsTheEnglishTextAndAPipeStillTheSystemBytes) {
  scripted_console::set_language(MessageLanguage::english);
  ::testing::internal::CaptureStderr();
  print_message(msg("sending_failed"), {"MEMO.TXT"});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "MEMO.TXT" + sjis(":送信に失敗しました") + "\n");
  scripted_console::act_as_terminal(80);
  ::testing::internal::CaptureStderr();
  print_message(msg("sending_failed"), {"MEMO.TXT"});
  print_banner(ConsoleStream::error, msg("title_qvdir"), "\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            std::string("MEMO.TXT: sending failed: the device did not confirm the file\nqvdir v") + suite_version +
                " ZAURUS storage list" + author_suffix + "\n");
  EXPECT_STREQ(terminal_text_of(msg("waiting")), msg("waiting").english);
}

}  // namespace
