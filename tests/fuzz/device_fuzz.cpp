// libFuzzer target: every input is what the device sends, fed through the
// scripted port to one of the host's receivers or fetching conversations.
//
// The first byte picks the receiver, the link mode and echo; the rest is the
// line. Buffers are allocated to their exact size, so AddressSanitizer sees
// any write past one. Nothing waits for real: the scripted port's clock is
// virtual, and after 64 silences the line is taken as exhausted. The
// program's endings (TimeOut, an abandoned transfer) arrive here as
// exceptions, through the linker's wrapping of exit_program.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pclink/conversation.h"
#include "pclink/echo.h"
#include "pclink/file_commands.h"
#include "pclink/packet.h"
#include "pclink/relay.h"
#include "pclink/relay_framing.h"
#include "pclink/serial_port.h"
#include "qvdir/device_list.h"
#include "qvinstall/addin_conversation.h"
#include "qvinstall/settings.h"
#include "support/scripted_port.h"

namespace {

struct ProgramEnded {
  int code;
};
struct LineExhausted {};

constexpr int silences_allowed = 64;

using Bytes = std::vector<std::uint8_t>;

// The receivers, each given the exact room it announces.
void receive(int receiver, int room) {
  switch (receiver) {
    case 0: {
      Bytes buffer(static_cast<std::size_t>(room));
      recv_packet(buffer.data(), room, 1 + room % 300);
      break;
    }
    case 1: {
      Bytes buffer(static_cast<std::size_t>(room));
      relay_recv_frame(buffer.data(), room, relay_any_frame_number);
      break;
    }
    case 2: {
      Bytes destination(static_cast<std::size_t>(room));
      get_file(room, destination.data(), "F");
      await_enq();
      break;
    }
    case 3: {
      Bytes block(static_cast<std::size_t>(list_block_size));
      get_list(block.data(), "S1:");
      break;
    }
    case 4:
      connect_addin();
      break;
    case 5: {
      Bytes buffer(static_cast<std::size_t>(room));
      recv_reply(buffer.data(), room);
      break;
    }
    case 6:
      reset_device();
      break;
    default: {
      Bytes file(static_cast<std::size_t>(room), 0x5A);
      put_file(room, file.data(), "F");
      break;
    }
  }
}

}  // namespace

// exit_program, as the library's callers in this target reach it.
extern "C" [[noreturn]] void __wrap__Z12exit_programi(int code) {
  throw ProgramEnded{code};
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // "r-error" reports are not what is being tested.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::uint8_t choice = data[0];
  int room = 1 + data[1] * 4;  // 1 to 1021 bytes: small rooms reach every overflow path
  scripted_port::reset();
  install_settings = InstallSettings{};
  echo_enabled = (choice & 0x10) != 0;
  open_port((choice & 0x08) != 0 ? link_mode_relay : link_mode_cable_19200);
  scripted_port::set_loopback(echo_enabled && (choice & 0x20) != 0);
  scripted_port::queue_incoming(Bytes(data + 2, data + size));
  int silences = 0;
  scripted_port::on_silence([&silences] {
    if (++silences > silences_allowed) throw LineExhausted{};
  });
  try {
    receive(choice & 0x07, room);
  } catch (const ProgramEnded&) {
  } catch (const LineExhausted&) {
  }
  scripted_port::on_silence(nullptr);
  return 0;
}
