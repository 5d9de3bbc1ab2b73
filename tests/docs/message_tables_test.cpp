// The maker of the message tables: the meanings file read or refused with
// the line at fault, every message required to have a meaning, and the
// tables as a Markdown renderer and roff read them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/message_tables/meanings_file.h"
#include "tools/message_tables/table_rendering.h"

namespace {

// "ファイル" in Shift-JIS, and a usage text of two lines with a '|'.
constexpr Message test_messages[] = {
    {"port_gone", "{port}: gone -- try \"-d\"", "{port}: gone -- try \"-d\""},
    {"file_word", "\x83\x74\x83\x40\x83\x43\x83\x8b {name}", "file {name}"},
    {"usage_x", "usage: x [-s0|1] <file>\r\n       x -g <file>\r\n", "usage: x [-s0|1] <file>\r\n       x -g <file>\r\n"},
};
constexpr std::span<const Message> test_parts[] = {test_messages};
constexpr Catalogue test_catalogue{test_parts};

std::vector<MeaningSection> parsed(const std::string& text) {
  std::vector<MeaningSection> sections;
  std::string error;
  EXPECT_TRUE(parse_meanings(text, sections, error)) << error;
  return sections;
}

std::string parse_error(const std::string& text) {
  std::vector<MeaningSection> sections;
  std::string error;
  EXPECT_FALSE(parse_meanings(text, sections, error));
  return error;
}

const std::string two_sections =
    "# a comment\n"
    "section link subsection Messages of the link\n"
    "\n"
    "port_gone = 1\n"
    "The port went away:\n"
    "  `TimeOut` follows. {port} is named.\n"
    "\n"
    "section words none Words\n"
    "\n"
    "file_word usage_x = —\n"
    "A word. .hidden starts a line.\n";

TEST(MeaningsFile, ReadsSectionsAndEntriesWithTheirKeysExitCodesAndJoinedMeanings) {
  const std::vector<MeaningSection> sections = parsed(two_sections);
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].name, "link");
  EXPECT_EQ(sections[0].manual, ManualForm::subsection);
  EXPECT_EQ(sections[0].title, "Messages of the link");
  ASSERT_EQ(sections[0].entries.size(), 1u);
  EXPECT_EQ(sections[0].entries[0].keys, std::vector<std::string>{"port_gone"});
  EXPECT_EQ(sections[0].entries[0].exit_code, "1");
  EXPECT_EQ(sections[0].entries[0].meaning, "The port went away: `TimeOut` follows. {port} is named.");
  EXPECT_EQ(sections[0].entries[0].line, 4);
  EXPECT_EQ(sections[1].manual, ManualForm::none);
  EXPECT_EQ(sections[1].entries[0].keys, (std::vector<std::string>{"file_word", "usage_x"}));
}

TEST(MeaningsFile, RefusesAFaultyFileNamingTheLine) {
  EXPECT_EQ(parse_error("port_gone = 1\nGone.\n"), "line 1: an entry before the first section");
  EXPECT_EQ(parse_error("section a chapter A\n"), "line 1: the manual form is subsection, entries or none, not 'chapter'");
  EXPECT_EQ(parse_error("section a none A\n\nport_gone = 1\n"), "line 3: the entry of port_gone has no meaning");
  EXPECT_EQ(parse_error("section a none A\n\nport-gone = 1\nGone.\n"),
            "line 3: 'port-gone' is no key (lower-case letters, digits and '_')");
  EXPECT_EQ(parse_error("section a none A\n\nport_gone 1\nGone.\n"),
            "line 3: an entry begins with its keys, '=' and the exit code");
  EXPECT_EQ(parse_error("section a none A\n\nport_gone =\nGone.\n"),
            "line 3: an entry needs at least one key and an exit code");
  EXPECT_EQ(parse_error("section a none A\nport_gone = 1\n"), "line 2: a section is one line, followed by an empty one");
}

TEST(MessageCoverage, NamesMessagesWithoutMeaningAndKeysTheCatalogueLacks) {
  const std::vector<MeaningSection> sections =
      parsed("section a none A\n\nport_gone usage_x = 1\nGone.\n\nno_such_key = 2\nNever printed.\n");
  EXPECT_EQ(coverage_faults(sections, test_catalogue),
            (std::vector<std::string>{"file_word: no meaning", "line 6: no_such_key: not in the catalogue"}));
  EXPECT_TRUE(coverage_faults(parsed(two_sections), test_catalogue).empty());
}

TEST(MarkdownTables, ShowValuesEnglishTextsAndEscapedBarsInTheirCells) {
  const std::string tables = markdown_tables(parsed(two_sections), test_catalogue);
  EXPECT_NE(tables.find("### Messages of the link\n\n| message | meaning | exit code |\n|---|---|---|\n"),
            std::string::npos)
      << tables;
  EXPECT_NE(tables.find("| `<port>: gone -- try \"-d\"` | The port went away: `TimeOut` follows. *port* is named. | 1 |"),
            std::string::npos)
      << tables;
  // The Shift-JIS text in UTF-8 with its English text; a usage text by its
  // first line, its '|' kept inside the cell.
  EXPECT_NE(tables.find("| `ファイル <name>` (in English `file <name>`), `usage: x [-s0\\|1] <file> …` | A word."),
            std::string::npos)
      << tables;
}

TEST(RoffFragment, TagsEveryMessageWithBoldTextAndItalicValuesAndKeepsSentencesOnTheirLines) {
  std::vector<MeaningSection> sections = parsed(two_sections);
  EXPECT_EQ(roff_fragment(sections[0], test_catalogue),
            ".\\\" Made by tools/regenerate_message_tables.sh from the message catalogue\n"
            ".\\\" (pclink/messages.h) and docs/message_meanings.txt: edit those, not this.\n"
            ".SS Messages of the link\n"
            ".TP\n"
            ".IB \"port\" \": gone \\-\\- try \\(dq\\-d\\(dq\"\n"
            "The port went away: \\fBTimeOut\\fR follows.\n"
            "\\fIport\\fR is named.\n"
            "Exit status 1.\n");
  // No subsection heading for a section of entries, a second message and the
  // English text as further tags, no exit status for "—", and a line that
  // would begin with a dot made plain text.
  sections[1].manual = ManualForm::entries;
  const std::string fragment = roff_fragment(sections[1], test_catalogue);
  EXPECT_EQ(fragment.find(".SS"), std::string::npos) << fragment;
  EXPECT_NE(fragment.find(".TP\n.BI \"ファイル \" \"name\"\n.TQ\n.BI \"file \" \"name\"\n.TQ\n.B \"usage: x [\\-s0|1] <file> …\"\n"
                          "A word.\n\\&.hidden starts a line.\n"),
            std::string::npos)
      << fragment;
  EXPECT_EQ(fragment.find("Exit status"), std::string::npos) << fragment;
}

}  // namespace
