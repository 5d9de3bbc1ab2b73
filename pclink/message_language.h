// Which language a person at a terminal reads the messages in.
//
// The programs' own texts are Japanese (Shift-JIS) with a few English
// phrases; a user whose language is not Japanese gets every message in
// English instead. The choice follows the locale as gettext reads it, so
// that a user who set a language for every other program needs nothing
// more here.
#pragma once

enum class MessageLanguage {
  system,   // the programs' own texts, Japanese
  english,
};

// The locale variables as the environment gives them; null when unset.
struct LocaleVariables {
  const char* lc_all = nullptr;
  const char* lc_messages = nullptr;
  const char* lang = nullptr;
  const char* language = nullptr;  // the LANGUAGE priority list, "ja:en"
};

// As gettext chooses: the messages locale is LC_ALL, else LC_MESSAGES, else
// LANG (the first set and not empty). The C and POSIX locales, or none,
// read English, and LANGUAGE is not looked at for them. Otherwise LANGUAGE,
// when set, decides: its first entry in a language the suite speaks
// (Japanese, or English, which every message has) wins, an entry in
// another language is passed over, and a list of none of them reads
// English. Without LANGUAGE the messages locale's own language decides:
// Japanese for "ja", English for any other.
MessageLanguage language_of_locale(const LocaleVariables& variables);

// The same for the process's own environment.
LocaleVariables locale_variables_of_environment();
