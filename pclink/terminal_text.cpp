#include "pclink/terminal_text.h"

#include <cstdio>

namespace {

bool is_shift_jis_trail(unsigned char byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

bool is_harmless_control(unsigned char byte) {
  return byte == '\t' || byte == '\r' || byte == '\n';
}

bool is_control(unsigned char byte) {
  return (byte < 0x20 && !is_harmless_control(byte)) || byte == 0x7F;
}

void append_escape(std::string& shown, unsigned char byte) {
  char escape[5];
  std::snprintf(escape, sizeof escape, "\\x%02x", byte);
  shown += escape;
}

}  // namespace

bool is_shift_jis_lead(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string escaped_shift_jis(const char* text, std::size_t length) {
  std::string shown;
  shown.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (is_shift_jis_lead(byte)) {
      if (i + 1 < length && is_shift_jis_trail(static_cast<unsigned char>(text[i + 1]))) {
        shown += text[i];
        shown += text[++i];
      } else {
        append_escape(shown, byte);
      }
    } else if (is_control(byte) || byte == 0x80 || byte == 0xA0 || byte >= 0xFD) {
      append_escape(shown, byte);
    } else {
      shown += text[i];
    }
  }
  return shown;
}

std::string escaped_user_text(const char* text, std::size_t length) {
  std::string shown;
  shown.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (is_control(byte)) {
      append_escape(shown, byte);
    } else {
      shown += text[i];
    }
  }
  return shown;
}
