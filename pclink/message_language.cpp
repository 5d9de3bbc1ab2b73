#include "pclink/message_language.h"

#include <cstdlib>
#include <initializer_list>
#include <string_view>

namespace {

const char* first_set(std::initializer_list<const char*> values) {
  for (const char* value : values) {
    if (value != nullptr && value[0] != '\0') return value;
  }
  return nullptr;
}

// The language part of a locale name or a LANGUAGE entry: "ja" of
// "ja_JP.UTF-8@cjknarrow".
std::string_view language_part(std::string_view name) {
  return name.substr(0, name.find_first_of("_.@"));
}

bool is_c_locale(std::string_view name) {
  return name == "C" || name == "POSIX" || language_part(name) == "C";
}

}  // namespace

MessageLanguage language_of_locale(const LocaleVariables& variables) {
  const char* messages_locale = first_set({variables.lc_all, variables.lc_messages, variables.lang});
  if (messages_locale == nullptr || is_c_locale(messages_locale)) return MessageLanguage::english;
  if (const char* list = first_set({variables.language}); list != nullptr) {
    std::string_view rest = list;
    while (!rest.empty()) {
      const std::size_t colon = rest.find(':');
      const std::string_view entry = language_part(rest.substr(0, colon));
      if (entry == "ja") return MessageLanguage::system;
      if (entry == "en" || entry == "C") return MessageLanguage::english;
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return MessageLanguage::english;
  }
  return language_part(messages_locale) == "ja" ? MessageLanguage::system : MessageLanguage::english;
}

LocaleVariables locale_variables_of_environment() {
  return {std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"), std::getenv("LANGUAGE")};
}
