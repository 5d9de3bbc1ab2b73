#include "pclink/console.h"

#include <cstdio>
#include <cstdlib>

const char author_suffix[] = " (pclink/C++ 2026)";

void print_line(const char* first, const char* second) {
  std::fprintf(stderr, "%s%s\n", first, second);
  std::fflush(stderr);
}

void print_text(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

void exit_program(int code) {
  std::exit(code);
}

int has_prefix(const char* prefix, const char* text) {
  for (; *prefix != '\0'; ++prefix, ++text) {
    if (*prefix != *text) {
      // A difference of zero cannot happen here, but the caller is promised
      // a non-zero value whenever the prefix does not match.
      signed char differing = static_cast<signed char>(*prefix);
      return differing != 0 ? differing : 1;
    }
  }
  return 0;
}
