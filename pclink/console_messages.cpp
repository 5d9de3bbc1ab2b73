// Messages from the catalogue on the console: a pipe or a file gets the
// system's bytes, a terminal the text presented for a person.
#include <cstring>
#include <string>
#include <vector>

#include "pclink/console.h"
#include "pclink/version.h"

MessageValue host_value(const char* host_name) {
  return {host_name, TextOrigin::user};
}

void write_message(ConsoleStream stream, const Message& message, std::initializer_list<MessageValue> values,
                   const char* line_end) {
  write_message_values(stream, message, {values.begin(), values.size()}, line_end);
}

void write_message_values(ConsoleStream stream, const Message& message, std::span<const MessageValue> values,
                          const char* line_end) {
  if (!console_is_terminal(stream)) {
    std::vector<std::string> texts;
    for (const MessageValue& value : values) texts.push_back(value.text);
    const std::string bytes = message_bytes(message, texts) + line_end;
    write_text(stream, TextOrigin::shift_jis, bytes.data(), bytes.size());
    return;
  }
  for (const MessagePiece& piece : message_pieces(message, terminal_text_of(message))) {
    if (piece.value < 0) {
      write_text(stream, TextOrigin::shift_jis, piece.text.data(), piece.text.size());
    } else if (static_cast<std::size_t>(piece.value) < values.size()) {
      const MessageValue& value = values[static_cast<std::size_t>(piece.value)];
      write_text(stream, value.origin, value.text.data(), value.text.size());
    }
  }
  write_text(stream, TextOrigin::shift_jis, line_end);
}

void print_message(const Message& message, std::initializer_list<MessageValue> values) {
  write_message(ConsoleStream::error, message, values, "\n");
}

void print_banner(ConsoleStream stream, const Message& title, const char* line_end) {
  const std::string ending = std::string(author_suffix) + line_end;
  write_message(stream, title, {suite_version}, ending.c_str());
}
