#include "tools/message_tables/meanings_file.h"

#include <sstream>

namespace {

struct Line {
  std::string_view text;
  int number;
};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::vector<std::string> words_of(std::string_view text) {
  std::vector<std::string> words;
  std::istringstream stream{std::string(text)};
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

bool is_key(const std::string& word) {
  if (word.empty()) return false;
  for (char c : word) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

std::string fault(int line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

bool read_section(const Line& line, std::vector<MeaningSection>& sections, std::string& error) {
  std::vector<std::string> words = words_of(line.text);
  if (words.size() < 4) {
    error = fault(line.number, "a section needs a name, a manual form and a title");
    return false;
  }
  MeaningSection section;
  section.name = words[1];
  if (words[2] == "subsection") {
    section.manual = ManualForm::subsection;
  } else if (words[2] == "entries") {
    section.manual = ManualForm::entries;
  } else if (words[2] != "none") {
    error = fault(line.number, "the manual form is subsection, entries or none, not '" + words[2] + "'");
    return false;
  }
  const std::size_t title_at = line.text.find(words[3], line.text.find(words[2]) + words[2].size());
  section.title = std::string(trimmed(line.text.substr(title_at)));
  sections.push_back(section);
  return true;
}

bool read_entry(const std::vector<Line>& block, std::vector<MeaningSection>& sections, std::string& error) {
  const Line& head = block.front();
  const std::size_t equals = head.text.find('=');
  if (equals == std::string_view::npos) {
    error = fault(head.number, "an entry begins with its keys, '=' and the exit code");
    return false;
  }
  if (sections.empty()) {
    error = fault(head.number, "an entry before the first section");
    return false;
  }
  MeaningEntry entry;
  entry.line = head.number;
  entry.keys = words_of(head.text.substr(0, equals));
  entry.exit_code = std::string(trimmed(head.text.substr(equals + 1)));
  if (entry.keys.empty() || entry.exit_code.empty()) {
    error = fault(head.number, "an entry needs at least one key and an exit code");
    return false;
  }
  for (const std::string& key : entry.keys) {
    if (!is_key(key)) {
      error = fault(head.number, "'" + key + "' is no key (lower-case letters, digits and '_')");
      return false;
    }
  }
  for (std::size_t i = 1; i < block.size(); ++i) {
    if (!entry.meaning.empty()) entry.meaning += ' ';
    entry.meaning += trimmed(block[i].text);
  }
  if (entry.meaning.empty()) {
    error = fault(head.number, "the entry of " + entry.keys.front() + " has no meaning");
    return false;
  }
  sections.back().entries.push_back(entry);
  return true;
}

bool read_block(const std::vector<Line>& block, std::vector<MeaningSection>& sections, std::string& error) {
  if (block.front().text.starts_with("section ")) {
    if (block.size() > 1) {
      error = fault(block[1].number, "a section is one line, followed by an empty one");
      return false;
    }
    return read_section(block.front(), sections, error);
  }
  return read_entry(block, sections, error);
}

}  // namespace

bool parse_meanings(std::string_view text, std::vector<MeaningSection>& sections, std::string& error) {
  std::vector<Line> block;
  int number = 0;
  while (!text.empty() || !block.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (raw.starts_with('#')) continue;
    if (!trimmed(raw).empty()) {
      block.push_back({raw, number});
      if (!text.empty()) continue;
    }
    if (!block.empty() && !read_block(block, sections, error)) return false;
    block.clear();
  }
  return true;
}
