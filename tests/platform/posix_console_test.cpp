// The console's character sets on POSIX: names typed in the locale's set
// converted to Shift-JIS and back, and Shift-JIS text shown in the
// terminal's set, with "?" for a character the conversion has no form for.
// The locale is read once per process, so each case runs in a child given
// its own environment.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "child_process.h"
#include "pclink/platform/console.h"

namespace {

const std::string memo_utf8 = "\xe3\x83\xa1\xe3\x83\xa2.TXT";  // メモ.TXT
const std::string memo_sjis = "\x83\x81\x83\x82.TXT";

// What the child says on standard error, under the locale settings given
// (every other locale variable unset).
std::string in_child(const std::vector<std::string>& settings, void (*body)()) {
  Child child = start_child([&](int) {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) unsetenv(name);
    for (const std::string& setting : settings) putenv(const_cast<char*>(setting.c_str()));
    body();
    std::fflush(stderr);
    return 0;
  });
  Ending ending = wait_for_end(child, 10000);
  EXPECT_TRUE(ending.ended);
  return ending.err;
}

const char* conversion_name(platform::NameConversion conversion) {
  switch (conversion) {
    case platform::NameConversion::untranslated:
      return "untranslated";
    case platform::NameConversion::converted:
      return "converted";
    case platform::NameConversion::unrepresentable:
      return "unrepresentable";
  }
  return "?";
}

// Each name's device form, one line each: "how:bytes".
void tell_device_names() {
  for (const std::string& name : {memo_utf8, memo_sjis, std::string("smile\xf0\x9f\x98\x80")}) {
    std::string device_name;
    const platform::NameConversion conversion = platform::device_name_from_user(name.c_str(), device_name);
    const bool has_form = conversion == platform::NameConversion::converted;
    std::fprintf(stderr, "%s:%s\n", conversion_name(conversion), has_form ? device_name.c_str() : "");
  }
}

void tell_host_forms() {
  for (const std::string& name : {memo_sjis, std::string("\x81\x20.TXT")}) {
    std::string host_name = "unchanged";
    const bool converted = platform::user_text_from_shift_jis(name.data(), name.size(), host_name);
    std::fprintf(stderr, "%d:%s:%d\n", converted, host_name.c_str(),
                 platform::is_user_text(name.data(), name.size()));
  }
}

void show_on_terminal() {
  // "メ", then 85 40: a valid Shift-JIS shape that no character is assigned to.
  const std::string text = "\x83\x81\x85\x40!";
  platform::write_converted(ConsoleStream::error, TextOrigin::shift_jis, text.data(), text.size());
}

TEST(PosixConsole, AUtf8LocaleConvertsTypedNamesAndRefusesWhatShiftJisLacks) {
  EXPECT_EQ(in_child({"LC_ALL=C.UTF-8"}, tell_device_names),
            "converted:" + memo_sjis + "\nuntranslated:\nunrepresentable:\n");
  // A Shift-JIS name is no UTF-8 text: it goes back converted, as the file
  // name a person can read; one that is no Shift-JIS either stays as it is.
  EXPECT_EQ(in_child({"LC_ALL=C.UTF-8"}, tell_host_forms), "1:" + memo_utf8 + ":0\n0:unchanged:0\n");
}

TEST(PosixConsole, ACharacterWithoutAFormInTheTerminalsSetShowsAsAQuestionMark) {
  EXPECT_EQ(in_child({"LC_ALL=C.UTF-8"}, show_on_terminal), "\xe3\x83\xa1?!");
}

// Names pass as they are; the device's text reaches the C locale's terminal
// as the ASCII it can show, never as Shift-JIS bytes it would show as nonsense.
TEST(PosixConsole, TheCLocaleLeavesNamesAsTheyAreAndShowsAsciiAlone) {
  EXPECT_EQ(in_child({"LC_ALL=C"}, tell_device_names), "untranslated:\nuntranslated:\nuntranslated:\n");
  EXPECT_EQ(in_child({"LC_ALL=C"}, tell_host_forms), "0:unchanged:1\n0:unchanged:1\n");
  EXPECT_EQ(in_child({"LC_ALL=C"}, show_on_terminal), "?\?!");
  EXPECT_EQ(in_child({}, show_on_terminal), "?\?!");  // no locale at all is the C locale
}

// A terminal whose set is Shift-JIS shows the bytes as they are.
TEST(PosixConsole, AShiftJisLocaleThatIsNotInstalledShowsTheBytesAsTheyAre) {
  EXPECT_EQ(in_child({"LC_ALL=ja_JP.SJIS"}, show_on_terminal), "\x83\x81\x85\x40!");
}

TEST(PosixConsole, ALocaleThatIsNotInstalledStillCountsAsUtf8WhenItsNameSaysSo) {
  // LC_ALL first, then LC_CTYPE, then LANG; the set is what follows the
  // dot, before any "@".
  for (const std::vector<std::string>& settings :
       {std::vector<std::string>{"LC_ALL=qq_QQ.UTF-8"}, {"LC_CTYPE=qq_QQ.utf8@modifier", "LANG=C"},
        {"LANG=qq_QQ.UTF-8"}}) {
    SCOPED_TRACE(settings[0]);
    EXPECT_EQ(in_child(settings, tell_device_names), "converted:" + memo_sjis + "\nuntranslated:\nunrepresentable:\n");
  }
  // A name that states another set, or none, is taken as the C locale.
  EXPECT_EQ(in_child({"LC_ALL=qq_QQ.ISO-8859-15"}, show_on_terminal), "?\?!");
  EXPECT_EQ(in_child({"LC_ALL=qq_QQ", "LANG=qq_QQ.UTF-8"}, show_on_terminal), "?\?!");
}

}  // namespace
