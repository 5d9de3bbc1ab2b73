// What each message means, as docs/message_meanings.txt keeps it: the
// messages in sections (one table of the documentation each, and one
// fragment of the manual pages for the sections that have one), every entry
// naming one or more messages by their catalogue keys, the exit code that
// follows them, and one paragraph of meaning.
//
// The file is blocks separated by empty lines; a line that begins with '#'
// is a comment. A section block is one line,
//     section <name> <manual form> <title>
// where the manual form is "subsection" (man/<name>.roff begins with the
// title as a subsection heading), "entries" (man/<name>.roff holds the
// entries alone) or "none" (the documentation only). An entry block is
//     <key> [<key> ...] = <exit code>
//     <meaning, over as many lines as it takes>
// In a meaning, `text` is literal text (a command, an option, another
// message) and {name} a value, as in the catalogue's texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class ManualForm { none, entries, subsection };

struct MeaningEntry {
  std::vector<std::string> keys;
  std::string exit_code;  // as the table shows it: "1", "2", "—", "0 if every file went"
  std::string meaning;    // the paragraph, its lines joined by single spaces
  int line = 0;           // where the entry begins in the file
};

struct MeaningSection {
  std::string name;
  ManualForm manual = ManualForm::none;
  std::string title;
  std::vector<MeaningEntry> entries;
};

// Reads the file's text into sections. On a fault it returns false, with
// "line N: what is wrong" in error.
bool parse_meanings(std::string_view text, std::vector<MeaningSection>& sections, std::string& error);
