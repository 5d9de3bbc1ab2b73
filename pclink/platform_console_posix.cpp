// The console on POSIX hosts: isatty, the user's locale (LC_CTYPE from the
// environment, read with newlocale so that the process's own locale stays
// "C" for everything else) and iconv between CP932 and its character set.
#include "pclink/platform_console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "pclink/terminal_text.h"

namespace {

// CP932 rather than SHIFT_JIS: it is what the device and Windows mean by
// Shift-JIS, with the NEC and IBM extensions and the backslash at 0x5C.
constexpr char device_charset[] = "CP932";

struct UserCharset {
  bool read = false;
  bool as_is = true;  // C/POSIX, or a Shift-JIS locale
  char name[64] = "";
};

UserCharset user_charset;

bool names_any_of(const char* codeset, const char* const* names) {
  for (; *names != nullptr; ++names) {
    if (strcasecmp(codeset, *names) == 0) return true;
  }
  return false;
}

const UserCharset& charset() {
  if (user_charset.read) return user_charset;
  user_charset.read = true;
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return user_charset;  // an unknown locale counts as C
  const char* codeset = nl_langinfo_l(CODESET, locale);
  static const char* const untranslated_sets[] = {
      "ANSI_X3.4-1968", "US-ASCII", "ASCII", "646", "", "SHIFT_JIS", "SHIFT-JIS", "SJIS",
      "CP932", "WINDOWS-31J", "MS_KANJI", "PCK", nullptr};
  if (codeset != nullptr && !names_any_of(codeset, untranslated_sets) &&
      std::strlen(codeset) < sizeof user_charset.name) {
    std::strcpy(user_charset.name, codeset);
    user_charset.as_is = false;
  }
  freelocale(locale);
  return user_charset;
}

FILE* stream_of(ConsoleStream stream) {
  return stream == ConsoleStream::output ? stdout : stderr;
}

// One conversion descriptor per direction, opened on first use and kept for
// the process's life.
iconv_t open_once(iconv_t& descriptor, const char* to, const char* from) {
  if (descriptor == reinterpret_cast<iconv_t>(-1)) descriptor = iconv_open(to, from);
  return descriptor;
}

iconv_t to_terminal = reinterpret_cast<iconv_t>(-1);
iconv_t user_to_device = reinterpret_cast<iconv_t>(-1);
iconv_t user_check = reinterpret_cast<iconv_t>(-1);

// Converts the whole of text; false at the first character that fails.
// failed_at then tells how many input bytes were converted before it.
bool convert(iconv_t descriptor, const char* text, std::size_t length, std::string& converted,
             std::size_t& failed_at) {
  iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(text);
  std::size_t in_left = length;
  char buffer[1024];
  while (in_left > 0) {
    char* out = buffer;
    std::size_t out_left = sizeof buffer;
    std::size_t result = iconv(descriptor, &in, &in_left, &out, &out_left);
    converted.append(buffer, sizeof buffer - out_left);
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      failed_at = length - in_left;
      return false;
    }
  }
  char* out = buffer;
  std::size_t out_left = sizeof buffer;
  iconv(descriptor, nullptr, nullptr, &out, &out_left);
  converted.append(buffer, sizeof buffer - out_left);
  return true;
}

}  // namespace

namespace platform {

ConsoleKind console_kind(ConsoleStream stream) {
  if (isatty(fileno(stream_of(stream))) == 0) return ConsoleKind::redirected;
  return charset().as_is ? ConsoleKind::terminal_as_is : ConsoleKind::terminal_converting;
}

std::size_t terminal_columns(ConsoleStream stream) {
  winsize size{};
  if (ioctl(fileno(stream_of(stream)), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void write_converted(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length) {
  FILE* file = stream_of(stream);
  if (origin == TextOrigin::user || charset().as_is) {
    std::fwrite(text, 1, length, file);
    return;
  }
  iconv_t descriptor = open_once(to_terminal, charset().name, device_charset);
  std::string shown;
  std::size_t done = 0;
  while (done < length) {
    std::size_t failed_at = 0;
    if (descriptor == reinterpret_cast<iconv_t>(-1) ||
        convert(descriptor, text + done, length - done, shown, failed_at)) {
      if (descriptor == reinterpret_cast<iconv_t>(-1)) shown.append(text + done, length - done);
      break;
    }
    // A character of the device that the terminal's set lacks.
    shown += '?';
    done += failed_at;
    done += is_shift_jis_lead(static_cast<unsigned char>(text[done])) && done + 1 < length ? 2 : 1;
  }
  std::fwrite(shown.data(), 1, shown.size(), file);
}

NameConversion device_name_from_user(const char* name, std::string& device_name) {
  if (charset().as_is) return NameConversion::untranslated;
  std::size_t length = std::strlen(name);
  std::size_t failed_at = 0;
  std::string checked;
  iconv_t check = open_once(user_check, "UTF-32LE", charset().name);
  iconv_t to_device = open_once(user_to_device, device_charset, charset().name);
  if (check == reinterpret_cast<iconv_t>(-1) || to_device == reinterpret_cast<iconv_t>(-1) ||
      !convert(check, name, length, checked, failed_at)) {
    return NameConversion::untranslated;
  }
  device_name.clear();
  if (!convert(to_device, name, length, device_name, failed_at)) return NameConversion::unrepresentable;
  return NameConversion::converted;
}

}  // namespace platform
