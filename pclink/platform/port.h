// The operating-system side of the serial port, internal to pclink.
//
// Principles of operation: the port layer above (serial_port.h) moves whole
// units: a Packet, a control byte or a relay block goes out in one write,
// and a read waits for as many bytes as the unit still needs, so that a
// unit trickling in at 9600 baud costs a handful of system calls, not one
// per byte. The layers above never see a file descriptor, a HANDLE, termios
// or a DCB. Each system implements these calls in its own port.cpp
// (platform/posix/, platform/win32/); the unit tests link a scripted
// stand-in, the line simulator one of its own. At most one port is open per
// process, so the open port is the platform file's own state.
#pragma once

#include <cstdint>

namespace platform {

// Line settings of one link mode: 8 data bits and one stop bit, odd parity
// (checked on receipt) for the optical relay adapter and none on a cable;
// no flow control of any kind, no character translated, none stripped, the
// modem control lines ignored, RTS held off and DTR on. Everything the line
// held before is put back when the port closes.
struct LineSettings {
  int baud;         // 9600 or 19200
  bool odd_parity;  // the optical relay adapter wants odd parity
};

enum class Transfer { done, timed_out, failed };

struct ReadResult {
  Transfer status;  // done: at least the bytes wanted came; timed_out: fewer did
  int count;        // bytes delivered, also when timed_out
  int error;        // the platform's error code when status is failed
};

struct WriteResult {
  Transfer status;  // done: the line took every byte
  int error;        // the platform's error code when status is failed
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
  // How long the adapter may hold received bytes back before it hands them
  // on: 1 ms once the system granted our request for low latency, else the
  // 16 ms a USB adapter's latency timer holds them as it comes.
  int receive_latency_ms;
};

// Opens the named port for this process alone, applies the settings, asks
// the driver for low latency (a driver that refuses is no error) and
// discards whatever the line had received before, so that a stale byte is
// never taken for the device's answer. The settings found on the line are
// kept and put back by close_port, by an interrupt and at process exit.
OpenResult open_port(const char* name, const LineSettings& settings);

// Whether the port of that name carries bytes at the rate it is set to, as
// a serial line does through a UART or a USB adapter. False for a
// pseudo-terminal, whose bytes arrive at once: there the time an answer
// took says nothing about what it answered.
bool line_keeps_pace(const char* name);

// What a read waits for, in milliseconds.
struct ReadLimits {
  int wanted;      // bytes the unit still needs (1 or more)
  int timeout_ms;  // the whole wait, from the call
  // A silence this long, from the call or from the last byte that came,
  // means no more are coming: for the rest of a unit under way. 0: only
  // timeout_ms counts.
  int gap_ms;
};

// Reads into buffer, which holds capacity bytes (capacity >= wanted), until
// the wanted bytes have come, the time-out passes or a silence of gap_ms
// does. Bytes that had already arrived beyond those
// wanted may be delivered too, up to capacity; none is waited for.
// damage[i] is set to 1 when buffer[i] arrived with a parity or framing
// error or as a break, and to 0 otherwise. Reading while no port is open
// fails with the platform's "bad handle" error.
ReadResult read_bytes(std::uint8_t* buffer, std::uint8_t* damage, int capacity, const ReadLimits& limits);

// Writes count bytes as one unit, waiting at most timeout_ms for the line to
// take them. Writing while no port is open fails with the platform's "bad
// handle" error.
WriteResult write_bytes(const std::uint8_t* bytes, int count, int timeout_ms);

// Puts back the line settings found at open, the driver's latency included,
// and closes the port, if one is open. Output already written is let out
// first, so that the last byte is not sent at the restored speed.
void close_port();

// For an interrupt that ends the process: puts the line settings back at
// once, without waiting for queued output. On POSIX it discards that output
// and closes the port, and is safe in a signal handler; on Windows the
// ending process closes the port.
void abandon_port();

}  // namespace platform
