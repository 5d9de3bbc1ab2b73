// The operating-system side of the console, internal to pclink: whether a
// standard stream is a terminal, the terminal's character set, and the
// conversions between Shift-JIS and the user's own encoding.
//
// Each system implements these calls in its own console.cpp (POSIX with
// isatty, the locale and iconv; Windows with the console API); the layers
// above never see a descriptor, a locale or a code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pclink/message_language.h"

// The two streams a program writes its text to; the console routines
// (console.h) take them too.
enum class ConsoleStream { output, error };

// Where a text comes from, and so which character set it is in.
enum class TextOrigin {
  shift_jis,  // our messages, the device's and a package's text
  user,       // the user's own: host file names as the shell gave them
};

namespace platform {

enum class ConsoleKind {
  redirected,           // a pipe, a file, a null device
  terminal_as_is,       // a terminal whose character set is the bytes as they are: Shift-JIS
  terminal_converting,  // a terminal of another character set (UTF-8, the C locale's ASCII, ...)
};

// Looked at afresh on each call; the console routines remember it.
ConsoleKind console_kind(ConsoleStream stream);

// The width of the terminal a stream writes to, in columns, asked afresh on
// each call so that a resized window is followed; 0 when it cannot be told.
std::size_t terminal_columns(ConsoleStream stream);

// On a terminal_converting stream: writes text of origin in the terminal's
// character set. Shift-JIS text must be well-formed (escaped_shift_jis);
// a character the terminal's set lacks shows as "?". Where the write goes
// around the C library's stream, that stream is flushed first, so that what
// went before keeps its place.
void write_converted(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length);

enum class NameConversion {
  untranslated,     // pass the name as given: the locale is C or Shift-JIS already,
                    // or the name is no text of the locale's set
  converted,        // device_name holds the Shift-JIS form
  unrepresentable,  // a character of the name has no Shift-JIS form
};

// The arguments main was given, kept so that a name among them can be
// found again in the command line as typed (Windows); nothing elsewhere.
void note_command_line(int argc, char** argv);

// The Shift-JIS form of a name given in the user's own encoding. On
// Windows a name that is a command-line argument noted above (or a base
// name cut from one) is taken from the command line as typed (UTF-16)
// rather than from its ANSI form, which has lost every character the ANSI
// code page lacks.
NameConversion device_name_from_user(const char* name, std::string& device_name);

// Whether text is well-formed in the user's own character set (the
// locale's on POSIX, the ANSI code page on Windows). Every text is in the C
// locale and in a Shift-JIS one.
bool is_user_text(const char* text, std::size_t length);

// The user's form of Shift-JIS text (a device file name, an archive
// member's name) when the user's set is another one and every character
// converts; false, leaving user_text alone, otherwise.
bool user_text_from_shift_jis(const char* text, std::size_t length, std::string& user_text);

// The language a person at the terminal reads the messages in: from the
// locale as gettext reads it (LC_ALL, LC_MESSAGES, LANG, LANGUAGE); on
// Windows, where those are seldom set, the user's language for the
// system's own texts, or a console showing code page 932.
MessageLanguage message_language();

// Milliseconds on a clock that never goes back, whatever is done to the
// time of day: it paces the status line and times a transfer.
std::int64_t monotonic_milliseconds();

}  // namespace platform
