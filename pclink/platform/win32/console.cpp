// The console on Windows: a standard handle is a terminal when
// GetConsoleMode accepts it. A console whose output code page is 932 shows
// Shift-JIS bytes as they are; any other gets the text as UTF-16 through
// WriteConsoleW, which needs no code page at all. Command-line arguments
// arrive in the ANSI code page, which lacks the Japanese characters on most
// systems; a device name is therefore taken from the command line as typed
// (UTF-16), and host names stay as the ANSI argv gives them, the form the
// C library opens files by.
#include "pclink/platform/console.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
// windows.h before shellapi.h, which needs its types.
#include <windows.h>
#include <shellapi.h>

namespace {

constexpr UINT device_code_page = 932;

DWORD handle_number(ConsoleStream stream) {
  return stream == ConsoleStream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

std::wstring wide_text(UINT code_page, DWORD flags, const char* text, std::size_t length) {
  std::wstring wide;
  if (length == 0) return wide;
  int count = MultiByteToWideChar(code_page, flags, text, static_cast<int>(length), nullptr, 0);
  if (count <= 0) return wide;
  wide.resize(static_cast<std::size_t>(count));
  MultiByteToWideChar(code_page, flags, text, static_cast<int>(length), wide.data(), count);
  return wide;
}

// The bytes of wide text in code_page; false when a character has no form
// there (no best fit: "é" never becomes "e", nor a full-width "＼" a path
// separator).
bool narrow_text(UINT code_page, const std::wstring& wide, std::string& narrow) {
  if (wide.empty()) {
    narrow.clear();
    return true;
  }
  BOOL used_default = FALSE;
  const int length = static_cast<int>(wide.size());
  int bytes = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr,
                                  &used_default);
  if (bytes <= 0 || used_default) return false;
  narrow.assign(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), length, narrow.data(), bytes, nullptr,
                      &used_default);
  return !used_default;
}

// What follows the last "\" or "/" of a path, or its drive "C:": the base
// name, as the ANSI path was cut for a default device name.
std::wstring wide_base_name(const std::wstring& path) {
  std::size_t start = path.size() >= 2 && path[1] == L':' ? 2 : 0;
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator != std::wstring::npos && separator >= start) start = separator + 1;
  return path.substr(start);
}

// main's own arguments. The C library gives main a copy of its own (not
// __argv), and a name is known to be one of them only by its address in
// that copy.
struct NotedArguments {
  int count = 0;
  char** values = nullptr;
};

NotedArguments noted_arguments;

// The command-line argument as typed whose ANSI form is name, or ends in
// name (a base name cut from it). False when name is no part of main's
// arguments, or the wide command line splits otherwise than the ANSI one
// did.
bool typed_argument(const char* name, std::wstring& typed) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return false;
  bool found = false;
  for (int i = 1; count == noted_arguments.count && i < count && !found; ++i) {
    const char* argument = noted_arguments.values[i];
    // std::less: a total order even for pointers into unrelated strings.
    const std::less<const char*> before;
    if (before(name, argument) || before(argument + std::strlen(argument), name)) continue;
    typed = name == argument ? std::wstring(wide[i]) : wide_base_name(wide[i]);
    found = true;
  }
  LocalFree(wide);
  return found;
}

}  // namespace

namespace platform {

ConsoleKind console_kind(ConsoleStream stream) {
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(handle_number(stream)), &mode) == 0) return ConsoleKind::redirected;
  return GetConsoleOutputCP() == device_code_page ? ConsoleKind::terminal_as_is : ConsoleKind::terminal_converting;
}

std::size_t terminal_columns(ConsoleStream stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(handle_number(stream)), &info) == 0) return 0;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<std::size_t>(columns) : 0;
}

void write_converted(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length) {
  std::fflush(stream == ConsoleStream::output ? stdout : stderr);
  std::wstring wide = wide_text(origin == TextOrigin::user ? CP_ACP : device_code_page, 0, text, length);
  DWORD written = 0;
  WriteConsoleW(GetStdHandle(handle_number(stream)), wide.data(), static_cast<DWORD>(wide.size()), &written,
                nullptr);
}

void note_command_line(int argc, char** argv) {
  noted_arguments = {argc, argv};
}

NameConversion device_name_from_user(const char* name, std::string& device_name) {
  std::wstring wide;
  if (!typed_argument(name, wide)) {
    // A name read from a file: in the ANSI code page, like the file.
    if (GetACP() == device_code_page) return NameConversion::untranslated;
    const std::size_t length = std::strlen(name);
    wide = wide_text(CP_ACP, MB_ERR_INVALID_CHARS, name, length);
    if (wide.empty() && length > 0) return NameConversion::untranslated;
  }
  return narrow_text(device_code_page, wide, device_name) ? NameConversion::converted
                                                         : NameConversion::unrepresentable;
}

bool is_user_text(const char* text, std::size_t length) {
  return length == 0 || !wide_text(CP_ACP, MB_ERR_INVALID_CHARS, text, length).empty();
}

bool user_text_from_shift_jis(const char* text, std::size_t length, std::string& user_text) {
  if (GetACP() == device_code_page) return false;
  std::wstring wide = wide_text(device_code_page, MB_ERR_INVALID_CHARS, text, length);
  std::string converted;
  if ((wide.empty() && length > 0) || !narrow_text(CP_ACP, wide, converted)) return false;
  user_text = converted;
  return true;
}

// A locale variable set by hand (as a Unix-like shell on Windows sets LANG)
// is what the user asked for; without one, the language the user reads
// Windows in, or a console that shows Japanese.
MessageLanguage message_language() {
  const LocaleVariables variables = locale_variables_of_environment();
  for (const char* value : {variables.lc_all, variables.lc_messages, variables.lang}) {
    if (value != nullptr && value[0] != '\0') return language_of_locale(variables);
  }
  const bool japanese =
      PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE || GetConsoleOutputCP() == device_code_page;
  return japanese ? MessageLanguage::system : MessageLanguage::english;
}

std::int64_t monotonic_milliseconds() {
  return static_cast<std::int64_t>(GetTickCount64());
}

}  // namespace platform
