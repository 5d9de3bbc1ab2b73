// Standard streams in binary mode for every program built for Windows.
//
// In text mode the C runtime writes "\r\n" for every "\n", which would change
// the bytes of device listings and messages, and ends standard input at the
// first 0x1A byte, which would cut a backup archive read from "-" short.
// The build compiles this file into each executable rather than into the
// library, so it runs before main even in a program, such as qvunpack, that
// never touches the port and so would never pull the platform file out of
// the library.
#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace {

[[maybe_unused]] const bool standard_streams_binary = [] {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return true;
}();

}  // namespace
