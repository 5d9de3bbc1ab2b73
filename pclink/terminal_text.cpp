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

bool is_well_formed_shift_jis(const char* text, std::size_t length) {
  // Both escape the control bytes; only the Shift-JIS one escapes a byte
  // that begins no character.
  return escaped_shift_jis(text, length) == escaped_user_text(text, length);
}

std::string escaped_above_ascii(const char* text, std::size_t length) {
  std::string shown;
  shown.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (is_control(byte) || byte >= 0x80) {
      append_escape(shown, byte);
    } else {
      shown += text[i];
    }
  }
  return shown;
}

namespace {

// Whether text is well-formed UTF-8: a lead byte followed by as many
// continuation bytes as it announces, and nothing else above ASCII.
bool is_utf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const int more = byte < 0x80 ? 0 : byte >= 0xC2 && byte <= 0xDF ? 1 : byte >= 0xE0 && byte <= 0xEF ? 2
                                  : byte >= 0xF0 && byte <= 0xF4 ? 3 : -1;
    if (more < 0 || i + static_cast<std::size_t>(more) >= text.size() + (more == 0 ? 1 : 0)) return false;
    for (int k = 1; k <= more; ++k) {
      if ((static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0xC0) != 0x80) return false;
    }
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

}  // namespace

std::string name_fitted_to(const std::string& name, bool shift_jis, std::size_t room) {
  if (name.size() <= room) return name;
  constexpr char cut_mark[] = "...";
  constexpr std::size_t cut_mark_width = sizeof cut_mark - 1;
  if (room < cut_mark_width + 1) return {};
  const std::size_t first_kept = name.size() - (room - cut_mark_width);
  auto byte_at = [&name](std::size_t i) { return static_cast<unsigned char>(name[i]); };
  std::size_t start = 0;  // the first character that starts at or after first_kept
  if (shift_jis) {
    while (start < first_kept) start += is_shift_jis_lead(byte_at(start)) && start + 1 < name.size() ? 2 : 1;
  } else if (is_utf8(name)) {
    start = first_kept;
    while (start < name.size() && (byte_at(start) & 0xC0) == 0x80) ++start;
  } else {
    start = first_kept;
    while (start < name.size() && !(byte_at(start) < 0x80 && byte_at(start - 1) < 0x80)) ++start;
  }
  return cut_mark + name.substr(start);
}
