#include "pclink/platform/posix/marked_input.h"

namespace platform_posix {

int decode_marked(std::uint8_t* bytes, std::uint8_t* damage, int count, MarkedInput& state) {
  int out = 0;
  for (int in = 0; in < count; ++in) {
    const std::uint8_t byte = bytes[in];
    if (state.held == 2) {
      bytes[out] = byte;
      damage[out++] = 1;
      state.held = 0;
    } else if (state.held == 1) {
      // 0xFF 0xFF is a data 0xFF; 0xFF 0x00 starts a mark. Nothing else
      // follows 0xFF on such a line: were it to, it is taken as damage.
      if (byte == 0x00) {
        state.held = 2;
      } else {
        bytes[out] = byte;
        damage[out++] = byte == 0xFF ? 0 : 1;
        state.held = 0;
      }
    } else if (byte == 0xFF) {
      state.held = 1;
    } else {
      bytes[out] = byte;
      damage[out++] = 0;
    }
  }
  return out;
}

}  // namespace platform_posix
