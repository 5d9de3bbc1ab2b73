// Every message a user can meet, under a stable key: the bytes the programs
// write (what a pipe or a file gets: Shift-JIS where the text is Japanese)
// and the English text that a terminal gets when its user's language is
// not Japanese.
//
// A value that goes into a message (a file name, a port, a count) stands in
// both texts as {what}; values are handed over in the order in which their
// names first appear in the system text, and the English text may use them
// in any order and more than once. The braces are found with Shift-JIS in
// mind: a second byte of a double-byte character may be 0x7B or 0x7D.
//
// Code names a message by its key, msg("time_out"), checked when it is
// compiled: a key that is not in the catalogue does not build.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

struct Message {
  const char* key;      // stable: documentation and tests refer to it
  const char* system;   // the bytes the programs write, as they always have
  const char* english;  // plain ASCII
};

// A message whose system text is English already: the same text for both.
consteval Message english_already(const char* key, const char* text) {
  return {key, text, text};
}

#include "pclink/message_catalogue_link.h"
#include "pclink/message_catalogue_programs.h"

// The whole catalogue, section by section: the link library's messages,
// then the programs' own.
inline constexpr std::span<const Message> message_catalogue[] = {link_messages, program_messages};

consteval const Message& msg(std::string_view key) {
  for (std::span<const Message> section : message_catalogue) {
    for (const Message& message : section) {
      if (key == message.key) return message;
    }
  }
  throw "no message of this key in the catalogue";
}

// A message text cut at its values: literal runs of the text, and the
// places where a value goes (value is its index among the values, in the
// order the system text names them first).
struct MessagePiece {
  std::string_view text;  // a literal run, or the value's name
  int value = -1;         // -1 for a literal run
};

// The pieces of one of message's two texts.
std::vector<MessagePiece> message_pieces(const Message& message, const char* text);

// The names of the values a message text takes, each once, in the order
// they first appear.
std::vector<std::string_view> message_value_names(const char* text);

// The system text with its values put in: the bytes a pipe gets.
std::string message_bytes(const Message& message, std::span<const std::string> values);
