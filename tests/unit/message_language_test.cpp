// The language of the messages on a terminal, chosen from the locale as
// gettext chooses it.
#include <gtest/gtest.h>

#include <string>

#include "pclink/message_language.h"

namespace {

constexpr MessageLanguage japanese = MessageLanguage::system;
constexpr MessageLanguage english = MessageLanguage::english;

struct Case {
  LocaleVariables variables;
  MessageLanguage language;
};

TEST(MessageLanguage, TheMessagesLocaleAndLanguageListDecideAsGettextDoes) {
  const Case cases[] = {
      {{}, english},                                                // nothing set: the C locale
      {{nullptr, nullptr, "ja_JP.UTF-8"}, japanese},
      {{nullptr, nullptr, "ja_JP.SJIS"}, japanese},
      {{nullptr, nullptr, "en_US.UTF-8"}, english},
      {{nullptr, nullptr, "C.UTF-8"}, english},
      {{nullptr, nullptr, "C"}, english},
      {{nullptr, nullptr, "POSIX"}, english},
      {{nullptr, nullptr, "de_DE.UTF-8"}, english},                 // no German texts: English
      {{nullptr, nullptr, "ja"}, japanese},
      {{nullptr, nullptr, "jam_JM.UTF-8"}, english},                // "jam" is not "ja"
      // LC_ALL over LC_MESSAGES over LANG; an empty one counts as unset.
      {{"en_US.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8"}, english},
      {{nullptr, "ja_JP.UTF-8", "en_US.UTF-8"}, japanese},
      {{"", "", "ja_JP.UTF-8"}, japanese},
      {{nullptr, "C", "ja_JP.UTF-8"}, english},
      // LANGUAGE: its first entry that the suite speaks wins...
      {{nullptr, nullptr, "en_US.UTF-8", "ja"}, japanese},
      {{nullptr, nullptr, "ja_JP.UTF-8", "en_GB:ja"}, english},
      {{nullptr, nullptr, "en_US.UTF-8", "fr:de:ja_JP"}, japanese},
      {{nullptr, nullptr, "ja_JP.UTF-8", "fr:de"}, english},
      {{nullptr, nullptr, "ja_JP.UTF-8", ""}, japanese},              // empty: as unset
      // ... but not in the C locale, where gettext ignores it.
      {{nullptr, nullptr, "C", "ja"}, english},
      {{"C.UTF-8", nullptr, "ja_JP.UTF-8", "ja"}, english},
      {{nullptr, nullptr, nullptr, "ja"}, english},
  };
  for (const Case& c : cases) {
    const LocaleVariables& v = c.variables;
    auto shown = [](const char* value) { return value == nullptr ? std::string("(unset)") : '"' + std::string(value) + '"'; };
    SCOPED_TRACE("LC_ALL=" + shown(v.lc_all) + " LC_MESSAGES=" + shown(v.lc_messages) + " LANG=" + shown(v.lang) +
                 " LANGUAGE=" + shown(v.language));
    EXPECT_EQ(language_of_locale(v), c.language);
  }
}

}  // namespace
