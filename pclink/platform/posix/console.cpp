// The console on POSIX hosts: isatty, the user's locale (LC_CTYPE from the
// environment, read with newlocale so that the process's own locale stays
// "C" for everything else) and iconv between CP932 and its character set.
#include "pclink/platform/console.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "pclink/message_language.h"
#include "pclink/terminal_text.h"

namespace {

// CP932 rather than SHIFT_JIS: it is what the device and Windows mean by
// Shift-JIS, with the NEC and IBM extensions and the backslash at 0x5C.
constexpr char device_charset[] = "CP932";

struct UserCharset {
  bool read = false;
  bool as_is = true;  // names pass as they are: C/POSIX, or a Shift-JIS locale
  // The C/POSIX locale: its terminal shows ASCII, so the device's text
  // reaches it with "?" for every other character rather than as Shift-JIS
  // bytes that it would show as nonsense.
  bool ascii_terminal = false;
  char name[64] = "";
};

UserCharset user_charset;

bool names_any_of(const char* codeset, const char* const* names) {
  for (; *names != nullptr; ++names) {
    if (strcasecmp(codeset, *names) == 0) return true;
  }
  return false;
}

// The device's own set under its names: a terminal in it shows the bytes as
// they are.
const char* const shift_jis_sets[] = {"SHIFT_JIS", "SHIFT-JIS", "SJIS",    "CP932",
                                      "WINDOWS-31J", "MS_KANJI", "PCK", nullptr};

// The character set a locale name states: what follows its "." up to an
// "@", as in "ja_JP.UTF-8@euro". Empty when the name states none.
std::string charset_in_locale_name(const char* name) {
  const char* dot = std::strchr(name, '.');
  if (dot == nullptr) return {};
  std::string charset = dot + 1;
  return charset.substr(0, charset.find('@'));
}

// The locale the environment asks for, as setlocale would look it up for
// LC_CTYPE.
const char* locale_name_asked_for() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "";
}

// A locale that is asked for but not installed (a common sight on a fresh
// server or in a container) cannot be loaded, yet its name still tells what
// the terminal shows: a UTF-8 terminal stays one.
// Any other is taken for the C locale, unless it names Shift-JIS.
void take_charset_from_locale_name() {
  const std::string named = charset_in_locale_name(locale_name_asked_for());
  if (strcasecmp(named.c_str(), "UTF-8") == 0 || strcasecmp(named.c_str(), "UTF8") == 0) {
    std::strcpy(user_charset.name, "UTF-8");
    user_charset.as_is = false;
  } else if (!names_any_of(named.c_str(), shift_jis_sets)) {
    user_charset.ascii_terminal = true;
  }
}

const UserCharset& charset() {
  if (user_charset.read) return user_charset;
  user_charset.read = true;
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) {
    take_charset_from_locale_name();
    return user_charset;
  }
  const char* codeset = nl_langinfo_l(CODESET, locale);
  static const char* const ascii_sets[] = {"ANSI_X3.4-1968", "US-ASCII", "ASCII", "646", "", nullptr};
  if (codeset == nullptr || names_any_of(codeset, ascii_sets)) {
    user_charset.ascii_terminal = true;
  } else if (!names_any_of(codeset, shift_jis_sets) && std::strlen(codeset) < sizeof user_charset.name) {
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
iconv_t device_to_user = reinterpret_cast<iconv_t>(-1);

bool opened(iconv_t descriptor) {
  return descriptor != reinterpret_cast<iconv_t>(-1);
}

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
  const UserCharset& set = charset();
  return set.as_is && !set.ascii_terminal ? ConsoleKind::terminal_as_is : ConsoleKind::terminal_converting;
}

std::size_t terminal_columns(ConsoleStream stream) {
  winsize size{};
  if (ioctl(fileno(stream_of(stream)), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void write_converted(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length) {
  FILE* file = stream_of(stream);
  if (origin == TextOrigin::user || (charset().as_is && !charset().ascii_terminal)) {
    std::fwrite(text, 1, length, file);
    return;
  }
  iconv_t descriptor = open_once(to_terminal, charset().ascii_terminal ? "ASCII" : charset().name, device_charset);
  std::string shown;
  std::size_t done = 0;
  while (done < length) {
    std::size_t failed_at = 0;
    if (!opened(descriptor) || convert(descriptor, text + done, length - done, shown, failed_at)) {
      if (!opened(descriptor)) shown.append(text + done, length - done);
      break;
    }
    // A character of the device that the terminal's set lacks.
    shown += '?';
    done += failed_at;
    done += is_shift_jis_lead(static_cast<unsigned char>(text[done])) && done + 1 < length ? 2 : 1;
  }
  std::fwrite(shown.data(), 1, shown.size(), file);
}

// The arguments arrive in the locale's own set: nothing to find again.
void note_command_line(int, char**) {}

NameConversion device_name_from_user(const char* name, std::string& device_name) {
  if (charset().as_is) return NameConversion::untranslated;
  std::size_t length = std::strlen(name);
  std::size_t failed_at = 0;
  iconv_t to_device = open_once(user_to_device, device_charset, charset().name);
  if (!is_user_text(name, length) || !opened(to_device)) return NameConversion::untranslated;
  device_name.clear();
  if (!convert(to_device, name, length, device_name, failed_at)) return NameConversion::unrepresentable;
  return NameConversion::converted;
}

bool is_user_text(const char* text, std::size_t length) {
  if (charset().as_is) return true;
  iconv_t check = open_once(user_check, "UTF-32LE", charset().name);
  std::string checked;
  std::size_t failed_at = 0;
  return opened(check) && convert(check, text, length, checked, failed_at);
}

bool user_text_from_shift_jis(const char* text, std::size_t length, std::string& user_text) {
  if (charset().as_is) return false;
  iconv_t descriptor = open_once(device_to_user, charset().name, device_charset);
  std::string converted;
  std::size_t failed_at = 0;
  if (!opened(descriptor) || !convert(descriptor, text, length, converted, failed_at)) return false;
  user_text = converted;
  return true;
}

MessageLanguage message_language() {
  const MessageLanguage asked = language_of_locale(locale_variables_of_environment());
  // Japanese on a terminal that shows ASCII alone (a Japanese locale that is
  // not installed and names no set the terminal is known to show) would be
  // question marks: English is what that reader can read.
  if (asked == MessageLanguage::system && charset().ascii_terminal) return MessageLanguage::english;
  return asked;
}

std::int64_t monotonic_milliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace platform
