#include "tools/message_tables/table_rendering.h"

#include <iconv.h>

#include <stdexcept>

namespace {

struct ShownPiece {
  std::string text;  // a literal run in UTF-8, or the value's name
  bool value;
};

// A text that stands for a message in a table: its pieces with the
// Shift-JIS literals in UTF-8, cut at its first line end (a usage text goes
// on over several lines; its first names it, and "…" says that more follows).
std::vector<ShownPiece> shown_pieces(const Message& message, const char* text) {
  const std::vector<MessagePiece> pieces = message_pieces(message, text);
  std::vector<ShownPiece> shown;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].value >= 0) {
      shown.push_back({std::string(pieces[i].text), true});
      continue;
    }
    const std::string_view literal = pieces[i].text;
    const std::size_t line_end = literal.find_first_of("\r\n");
    shown.push_back({utf8_of_shift_jis(literal.substr(0, line_end)), false});
    if (line_end == std::string_view::npos) continue;
    const bool more = literal.find_first_not_of("\r\n", line_end) != std::string_view::npos || i + 1 < pieces.size();
    if (more) shown.back().text += " …";
    break;
  }
  return shown;
}

bool english_differs(const Message& message) {
  return std::string_view(message.system) != message.english;
}

// Markdown: a table cell's text, its '|' kept from ending the cell.
std::string cell_escaped(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    if (c == '|') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string markdown_message(const Message& message, const char* text) {
  std::string shown;
  for (const ShownPiece& piece : shown_pieces(message, text)) {
    if (piece.value) shown += '<';
    shown += piece.text;
    if (piece.value) shown += '>';
  }
  std::string cell = "`";
  cell += cell_escaped(shown);
  return cell += '`';
}

// A meaning cut into runs of plain text, of literal text (`...`) and of
// values ({name}), a value inside literal text included.
struct InlinePiece {
  std::string_view text;
  bool literal;
  bool value;
};

std::vector<InlinePiece> inline_pieces(std::string_view text) {
  std::vector<InlinePiece> pieces;
  bool literal = false;
  std::size_t start = 0;
  auto flush = [&](std::size_t end) {
    if (end > start) pieces.push_back({text.substr(start, end - start), literal, false});
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t close = text.find('}', i);
    if (text[i] == '`') {
      flush(i);
      literal = !literal;
      start = i + 1;
    } else if (text[i] == '{' && close != std::string_view::npos) {
      flush(i);
      pieces.push_back({text.substr(i + 1, close - i - 1), literal, true});
      i = close;
      start = i + 1;
    }
  }
  flush(text.size());
  return pieces;
}

// Markdown of a meaning: literal text as code, a value as its name, in
// italics in running text and in angle brackets in code.
std::string markdown_meaning(std::string_view text) {
  std::string out;
  bool in_code = false;
  for (const InlinePiece& piece : inline_pieces(text)) {
    if (piece.literal != in_code) out += '`';
    in_code = piece.literal;
    if (piece.value) out += in_code ? '<' : '*';
    out += piece.text;
    if (piece.value) out += in_code ? '>' : '*';
  }
  if (in_code) out += '`';
  return cell_escaped(out);
}

// roff: text in a quoted macro argument or in running text.
std::string roff_escaped(std::string_view text, bool quoted) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else if (c == '"' && quoted) {
      out += "\\(dq";
    } else {
      out += c;
    }
  }
  return out;
}

// One tag line of a message: its literal runs bold and its values italic,
// by the macros that alternate the two.
std::string roff_tag(const Message& message, const char* text) {
  std::vector<std::string> arguments;
  bool last_literal = false;
  bool first_literal = true;
  for (const ShownPiece& piece : shown_pieces(message, text)) {
    const bool literal = !piece.value;
    if (arguments.empty()) first_literal = literal;
    if (!arguments.empty() && literal == last_literal) {
      arguments.back() += roff_escaped(piece.text, true);
    } else {
      arguments.push_back(roff_escaped(piece.text, true));
    }
    last_literal = literal;
  }
  std::string line = arguments.size() == 1 ? (first_literal ? ".B" : ".I") : (first_literal ? ".BI" : ".IB");
  for (const std::string& argument : arguments) line += " \"" + argument + "\"";
  return line + "\n";
}

// roff running text of a meaning: literal text bold, values italic, one
// sentence a line, as manual page sources are kept.
std::string roff_meaning(std::string_view text) {
  std::string out;
  for (const InlinePiece& piece : inline_pieces(text)) {
    const char* font = piece.value ? "\\fI" : piece.literal ? "\\fB" : "";
    std::string run = roff_escaped(piece.text, false);
    if (!piece.literal && !piece.value) {
      // A sentence ends at ". " in running text.
      for (std::size_t at = run.find(". "); at != std::string::npos; at = run.find(". ", at + 1)) run[at + 1] = '\n';
    }
    out += font + run + (*font != '\0' ? "\\fR" : "");
  }
  std::string lines;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    // A line that begins with a dot or an apostrophe would be a request.
    if (!line.empty() && (line.front() == '.' || line.front() == '\'')) lines += "\\&";
    lines += line + "\n";
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string utf8_of_shift_jis(std::string_view text) {
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert CP932 to UTF-8");
  std::string in(text);
  std::string out(in.size() * 3 + 1, '\0');
  char* from = in.data();
  std::size_t from_left = in.size();
  char* to = out.data();
  std::size_t to_left = out.size();
  const std::size_t result = iconv(converter, &from, &from_left, &to, &to_left);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) throw std::runtime_error("not Shift-JIS: " + in);
  out.resize(out.size() - to_left);
  return out;
}

const Message* find_message(Catalogue catalogue, std::string_view key) {
  for (std::span<const Message> section : catalogue) {
    for (const Message& message : section) {
      if (key == message.key) return &message;
    }
  }
  return nullptr;
}

std::vector<std::string> coverage_faults(const std::vector<MeaningSection>& sections, Catalogue catalogue) {
  std::vector<std::string> faults;
  auto explained = [&](std::string_view key) {
    for (const MeaningSection& section : sections) {
      for (const MeaningEntry& entry : section.entries) {
        for (const std::string& named : entry.keys) {
          if (named == key) return true;
        }
      }
    }
    return false;
  };
  for (std::span<const Message> part : catalogue) {
    for (const Message& message : part) {
      if (!explained(message.key)) faults.push_back(std::string(message.key) + ": no meaning");
    }
  }
  for (const MeaningSection& section : sections) {
    for (const MeaningEntry& entry : section.entries) {
      for (const std::string& key : entry.keys) {
        if (find_message(catalogue, key) == nullptr) {
          faults.push_back("line " + std::to_string(entry.line) + ": " + key + ": not in the catalogue");
        }
      }
    }
  }
  return faults;
}

std::string markdown_tables(const std::vector<MeaningSection>& sections, Catalogue catalogue) {
  std::string out;
  for (const MeaningSection& section : sections) {
    out += "### " + section.title + "\n\n| message | meaning | exit code |\n|---|---|---|\n";
    for (const MeaningEntry& entry : section.entries) {
      std::string messages;
      for (const std::string& key : entry.keys) {
        const Message& message = *find_message(catalogue, key);
        if (!messages.empty()) messages += ", ";
        messages += markdown_message(message, message.system);
        if (english_differs(message)) messages += " (in English " + markdown_message(message, message.english) + ")";
      }
      out += "| " + messages + " | " + markdown_meaning(entry.meaning) + " | " + cell_escaped(entry.exit_code) + " |\n";
    }
    out += "\n";
  }
  return out;
}

std::string roff_fragment(const MeaningSection& section, Catalogue catalogue) {
  std::string out = ".\\\" Made by tools/regenerate_message_tables.sh from the message catalogue\n"
                    ".\\\" (pclink/messages.h) and docs/message_meanings.txt: edit those, not this.\n";
  if (section.manual == ManualForm::subsection) out += ".SS " + roff_escaped(section.title, false) + "\n";
  for (const MeaningEntry& entry : section.entries) {
    bool first = true;
    for (const std::string& key : entry.keys) {
      const Message& message = *find_message(catalogue, key);
      out += first ? ".TP\n" : ".TQ\n";
      out += roff_tag(message, message.system);
      if (english_differs(message)) out += ".TQ\n" + roff_tag(message, message.english);
      first = false;
    }
    out += roff_meaning(entry.meaning);
    if (entry.exit_code != "—") out += roff_meaning("Exit status " + entry.exit_code + ".");
  }
  return out;
}
