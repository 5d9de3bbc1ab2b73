#include "sjis.h"

#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

std::string sjis(const std::string& utf8) {
  iconv_t converter = iconv_open("SHIFT_JIS", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    std::perror("iconv_open");
    std::abort();
  }
  std::vector<char> input(utf8.begin(), utf8.end());
  std::vector<char> output(utf8.size() * 2 + 8);
  char* in = input.data();
  std::size_t in_left = input.size();
  char* out = output.data();
  std::size_t out_left = output.size();
  if (iconv(converter, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1)) {
    std::perror("iconv");
    std::abort();
  }
  iconv_close(converter);
  return std::string(output.data(), output.size() - out_left);
}
