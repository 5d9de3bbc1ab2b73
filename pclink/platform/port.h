// The operating-system side of the serial port, internal to pclink.
//
// Principles of operation: the port layer above (serial_port.cpp) moves one
// byte at a time, each under its own time-out, and never sees a file
// descriptor, a HANDLE, termios or a DCB. Each system implements these calls
// in its own port.cpp (platform/posix/, platform/win32/); the unit tests
// link a scripted stand-in instead. At most one port is open per process,
// so the open port is the platform file's own state.
#pragma once

#include <cstdint>

namespace platform {

// Line settings of one link mode. Every mode uses 8 data bits, one stop bit,
// no XON/XOFF, no CTS flow control and RTS held off; DTR is left alone.
struct LineSettings {
  int baud;         // 9600 or 19200
  bool odd_parity;  // the optical relay adapter wants odd parity
};

enum class Transfer { done, timed_out, failed };

struct ReadResult {
  Transfer status;
  std::uint8_t byte;  // valid when status is done
  int error;          // the platform's error code when status is failed
};

struct WriteResult {
  Transfer status;
  int error;  // the platform's error code when status is failed
};

// Why a port could not be opened, in the terms a user can act on; the words
// for each are the port layer's.
enum class OpenFailure {
  none,           // the port is open
  no_such_port,   // nothing by that name, or no hardware behind it
  busy,           // held by another program
  no_permission,  // this user may not open it
  not_a_port,     // opened, but it is no serial line (an ordinary file)
  other,          // anything else; error holds the platform's code
};

struct OpenResult {
  OpenFailure failure;
  int error;  // the platform's error code when failure is not none
  // With no_permission: the group that may use the device (read and write
  // allowed to it), so that the user can be told to join it; empty when the
  // device grants its group no such access or the platform has no groups.
  char group[64];
  // With no_such_port, what the name may have meant, so that the user can
  // be told: the device a COM<n> name stands for where the system names its
  // ports otherwise (/dev/ttyS1 for COM2), and a device of the name under
  // /dev/ when the name has no folder (/dev/ttyUSB0 for ttyUSB0). Empty
  // when there is none.
  char device_meant[80];
  char device_nearby[80];
};

// Opens the named port for this process alone, applies the settings and
// discards whatever the line had received before, so that a stale byte is
// never taken for the device's answer. The settings found on the line are
// kept and put back by close_port, by an interrupt and at process exit.
OpenResult open_port(const char* name, const LineSettings& settings);

// Reads one byte, waiting at most timeout_cs hundredths of a second.
ReadResult read_byte(int timeout_cs);

// Writes one byte, waiting at most timeout_cs hundredths of a second for the
// line to take it. Writing while no port is open fails with the platform's
// "bad handle" error.
WriteResult write_byte(int timeout_cs, std::uint8_t byte);

// Puts back the line settings found at open and closes the port, if one is
// open. Output already written is let out first, so that the last byte is
// not sent at the restored speed.
void close_port();

// For an interrupt that ends the process: puts the line settings back at
// once, without waiting for queued output. On POSIX it discards that output
// and closes the port, and is safe in a signal handler; on Windows the
// ending process closes the port.
void abandon_port();

}  // namespace platform
