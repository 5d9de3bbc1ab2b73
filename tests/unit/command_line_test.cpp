// The shared command-line reader: option groups, values attached or apart,
// and refusals that name what was wrong (what a refused program prints is
// checked end to end, program by program).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pclink/command_line.h"

namespace {

// Letters as a file program has them.
constexpr OptionLetters file_letters{"Cgv", "s", "dm", true};

// What the reader makes of a command line, item by item: "g", "s=2",
// "d?" for a required value that is missing, "name:A", and the refusal as
// "refused:<key>(<values>)".
std::string read_all(std::vector<std::string> arguments, const OptionLetters& letters = file_letters) {
  arguments.insert(arguments.begin(), "program");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  CommandLineReader reader = read_command_line(static_cast<int>(argv.size()), argv.data());
  std::string items;
  for (CommandLineItem item = next_item(reader, letters); item.kind != ItemKind::end;
       item = next_item(reader, letters)) {
    if (!items.empty()) items += " ";
    if (item.kind == ItemKind::name) {
      items += std::string("name:") + item.value;
    } else if (item.kind == ItemKind::option) {
      items += std::string(1, item.letter) + (item.value != nullptr ? std::string("=") + item.value : "");
      if (item.value == nullptr && item.letter == 'd') items += "?";
    } else {
      items += std::string("refused:") + reader.refusal.reason->key + "(";
      for (std::size_t i = 0; i < reader.refusal.values.size(); ++i) {
        items += (i > 0 ? "," : "") + reader.refusal.values[i];
      }
      items += ")";
      // Asked again, a refused reader stays refused.
      if (next_item(reader, letters).kind != ItemKind::refused) items += " read on after a refusal";
      break;
    }
  }
  return items;
}

TEST(CommandLineReader, GroupedLettersAreEachHonouredAndAValueEndsTheGroup) {
  EXPECT_EQ(read_all({"-vg", "NAME"}), "v g name:NAME");
  EXPECT_EQ(read_all({"-Cs2", "a"}), "C s=2 name:a");
  EXPECT_EQ(read_all({"-Cd/dev/x", "a"}), "C d=/dev/x name:a");
  EXPECT_EQ(read_all({"-gm256K", "A"}), "g m=256K name:A");
  EXPECT_EQ(read_all({"-vs"}), "v s");  // a bare -s has no value
  EXPECT_EQ(read_all({"-s2v"}), "s=2v");  // the whole rest, for -s to judge
}

TEST(CommandLineReader, TheSpecsOwnFormsReadAsBefore) {
  EXPECT_EQ(read_all({"-g", "-s0", "-C", "-d", "COM1", "A", "B"}), "g s=0 C d=COM1 name:A name:B");
  EXPECT_EQ(read_all({"-s"}), "s");
  EXPECT_EQ(read_all({"-", "-s1"}), "name:- s=1");
}

TEST(CommandLineReader, ARequiredValueIsAttachedOrTheNextArgumentButNeverALongOption) {
  EXPECT_EQ(read_all({"-d", "/dev/x", "a"}), "d=/dev/x name:a");
  EXPECT_EQ(read_all({"-m", "256K", "-g"}), "m=256K g");
  EXPECT_EQ(read_all({"-Cd", "/dev/x"}), "C d=/dev/x");
  EXPECT_EQ(read_all({"a", "-d"}), "name:a d?");
  EXPECT_EQ(read_all({"-d", "--x", "a"}), "d? refused:option_unknown(--x)");
  // A value may begin with "-": the port is named as typed.
  EXPECT_EQ(read_all({"-d", "-C"}), "d=-C");
}

TEST(CommandLineReader, AnUnknownLetterOrLongOptionRefusesTheLineNamingIt) {
  EXPECT_EQ(read_all({"-gx", "NAME"}), "g refused:option_letter_unknown(x,-gx)");
  EXPECT_EQ(read_all({"a", "-G"}), "name:a refused:option_letter_unknown(G,-G)");
  EXPECT_EQ(read_all({"--verbose", "a"}), "refused:option_unknown(--verbose)");
  EXPECT_EQ(read_all({"a", "--"}), "name:a refused:option_unknown(--)");
  // Where a lone "-" is no name, it is refused like an option.
  constexpr OptionLetters reset_letters{"Cr", "s", "d", false};
  EXPECT_EQ(read_all({"-r", "-"}, reset_letters), "r refused:option_unknown(-)");
  EXPECT_EQ(read_all({"-rerun"}, reset_letters), "r refused:option_letter_unknown(e,-rerun)");
  // A character above ASCII is no letter: its first byte alone would show
  // as another character, or as none.
  EXPECT_EQ(read_all({"-\xc3\xa9", "a"}), "refused:option_unknown(-\xc3\xa9)");
  EXPECT_EQ(read_all({"-g\xe3\x81\x82"}), "g refused:option_unknown(-g\xe3\x81\x82)");
}

}  // namespace
