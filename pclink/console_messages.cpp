// Messages from the catalogue on the console: a pipe or a file gets the
// system's bytes, a terminal the text presented for a person.
#include <cstring>
#include <string>
#include <string_view>
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
  // Text of one character set goes out in one write, so that a console
  // shows a line whole rather than in pieces.
  std::string run;
  TextOrigin run_origin = TextOrigin::shift_jis;
  auto add = [&](TextOrigin origin, std::string_view text) {
    if (origin != run_origin && !run.empty()) {
      write_text(stream, run_origin, run.data(), run.size());
      run.clear();
    }
    run_origin = origin;
    run += text;
  };
  for (const MessagePiece& piece : message_pieces(message, terminal_text_of(message))) {
    if (piece.value < 0) {
      add(TextOrigin::shift_jis, piece.text);
    } else if (static_cast<std::size_t>(piece.value) < values.size()) {
      const MessageValue& value = values[static_cast<std::size_t>(piece.value)];
      add(value.origin, value.text);
    }
  }
  add(TextOrigin::shift_jis, line_end);
  write_text(stream, run_origin, run.data(), run.size());
}

void print_message(const Message& message, std::initializer_list<MessageValue> values) {
  write_message(ConsoleStream::error, message, values, "\n");
}

void print_banner(ConsoleStream stream, const Message& title, const char* line_end) {
  const std::string ending = std::string(author_suffix) + line_end;
  write_message(stream, title, {suite_version}, ending.c_str());
}
