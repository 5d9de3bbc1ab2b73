// The message tables as the documentation (Markdown) and the manual pages
// (roff) show them: each entry's messages in the words the programs write,
// with the English text of those written in Japanese, its meaning and its
// exit code.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pclink/messages.h"
#include "tools/message_tables/meanings_file.h"

using Catalogue = std::span<const std::span<const Message>>;

// The catalogue's entry of a key, or nullptr.
const Message* find_message(Catalogue catalogue, std::string_view key);

// One line for every key of the catalogue that no entry explains, and for
// every key of an entry that the catalogue does not hold.
std::vector<std::string> coverage_faults(const std::vector<MeaningSection>& sections, Catalogue catalogue);

// Every section as a heading and a Markdown table, for docs/messages.md.
std::string markdown_tables(const std::vector<MeaningSection>& sections, Catalogue catalogue);

// One section as a manual page fragment: tagged paragraphs (.TP, .TQ),
// under a subsection heading when the section asks for one.
std::string roff_fragment(const MeaningSection& section, Catalogue catalogue);

// UTF-8 of Shift-JIS text (the device's code page, CP932).
std::string utf8_of_shift_jis(std::string_view text);
