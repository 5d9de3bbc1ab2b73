// The console on Windows: a standard handle is a terminal when
// GetConsoleMode accepts it. A console whose output code page is 932 shows
// Shift-JIS bytes as they are; any other gets the text as UTF-16 through
// WriteConsoleW, which needs no code page at all. Command-line names arrive
// in the ANSI code page.
#include "pclink/platform_console.h"

#include <cstdio>
#include <cstring>
#include <windows.h>

namespace {

constexpr UINT device_code_page = 932;

DWORD handle_number(ConsoleStream stream) {
  return stream == ConsoleStream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

std::wstring wide_text(UINT code_page, const char* text, std::size_t length) {
  std::wstring wide;
  if (length == 0) return wide;
  int count = MultiByteToWideChar(code_page, 0, text, static_cast<int>(length), nullptr, 0);
  if (count <= 0) return wide;
  wide.resize(static_cast<std::size_t>(count));
  MultiByteToWideChar(code_page, 0, text, static_cast<int>(length), wide.data(), count);
  return wide;
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
  std::wstring wide = wide_text(origin == TextOrigin::user ? CP_ACP : device_code_page, text, length);
  DWORD written = 0;
  WriteConsoleW(GetStdHandle(handle_number(stream)), wide.data(), static_cast<DWORD>(wide.size()), &written,
                nullptr);
}

NameConversion device_name_from_user(const char* name, std::string& device_name) {
  if (GetACP() == device_code_page) return NameConversion::untranslated;
  int length = static_cast<int>(std::strlen(name));
  int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, length, nullptr, 0);
  if (count <= 0) return NameConversion::untranslated;
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, length, wide.data(), count);
  BOOL lost = FALSE;
  int bytes = WideCharToMultiByte(device_code_page, WC_NO_BEST_FIT_CHARS, wide.data(), count, nullptr, 0, nullptr,
                                  &lost);
  if (bytes <= 0 || lost) return NameConversion::unrepresentable;
  device_name.assign(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(device_code_page, WC_NO_BEST_FIT_CHARS, wide.data(), count, device_name.data(), bytes,
                      nullptr, &lost);
  return NameConversion::converted;
}

}  // namespace platform
