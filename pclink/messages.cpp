#include "pclink/messages.h"

#include <algorithm>
#include <cstring>

#include "pclink/terminal_text.h"

namespace {

// A value's place in a text: "{", a name of letters and underscores, "}".
// The scan steps over double-byte characters whole, so that a second byte
// that happens to be "{" or "}" is never taken for a brace.
struct Placeholder {
  std::size_t start = 0;  // the "{"
  std::size_t end = 0;    // just past the "}"
  std::string_view name;
};

bool is_name_character(char c) {
  return (c >= 'a' && c <= 'z') || c == '_';
}

bool next_placeholder(std::string_view text, std::size_t from, Placeholder& found) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (is_shift_jis_lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
      ++i;
      continue;
    }
    if (text[i] != '{') continue;
    std::size_t close = i + 1;
    while (close < text.size() && is_name_character(text[close])) ++close;
    if (close < text.size() && text[close] == '}' && close > i + 1) {
      found = {i, close + 1, text.substr(i + 1, close - i - 1)};
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string_view> message_value_names(const char* text) {
  std::vector<std::string_view> names;
  const std::string_view whole(text);
  Placeholder placeholder;
  for (std::size_t at = 0; next_placeholder(whole, at, placeholder); at = placeholder.end) {
    if (std::find(names.begin(), names.end(), placeholder.name) == names.end()) names.push_back(placeholder.name);
  }
  return names;
}

std::vector<MessagePiece> message_pieces(const Message& message, const char* text) {
  const std::vector<std::string_view> names = message_value_names(message.system);
  std::vector<MessagePiece> pieces;
  const std::string_view whole(text);
  std::size_t at = 0;
  Placeholder placeholder;
  for (; next_placeholder(whole, at, placeholder); at = placeholder.end) {
    if (placeholder.start > at) pieces.push_back({whole.substr(at, placeholder.start - at)});
    const auto named = std::find(names.begin(), names.end(), placeholder.name);
    pieces.push_back({placeholder.name, named == names.end() ? -1 : static_cast<int>(named - names.begin())});
  }
  if (at < whole.size()) pieces.push_back({whole.substr(at)});
  return pieces;
}

std::string message_bytes(const Message& message, std::span<const std::string> values) {
  std::string bytes;
  for (const MessagePiece& piece : message_pieces(message, message.system)) {
    if (piece.value < 0) {
      bytes += piece.text;
    } else if (static_cast<std::size_t>(piece.value) < values.size()) {
      bytes += values[static_cast<std::size_t>(piece.value)];
    }
  }
  return bytes;
}
