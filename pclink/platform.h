// The operating-system side of the serial port, internal to pclink.
//
// Principles of operation: the port layer above (serial_port.cpp) moves one
// byte at a time, each under its own time-out, and never sees a file
// descriptor, a HANDLE, termios or a DCB. Each host has one file that
// implements these calls (platform_posix.cpp, platform_win32.cpp); the unit
// tests link a scripted stand-in instead. At most one port is open per
// process, so the open port is the platform file's own state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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

// Ends the process on SIGINT, SIGTERM and SIGHUP (Ctrl-C and a closed
// console on Windows): removes the temporary file a save is writing, puts
// the line settings back without waiting for output, closes the port, prints
// one line and exits with 128 + the signal number (130 for Ctrl-C). SIGPIPE
// (the reader of standard output went away, as "qvdir | head" does) ends it
// the same way but silently, with 141: nobody is left to read a message. A
// file-size limit no longer kills the process: the write fails instead, and
// the save is abandoned like any failed write. Every program calls this
// once, before anything else.
void catch_interrupts();

// Hold an interrupt off while what is on the disk and what the interrupt
// handler knows of it disagree: from just before a save's temporary file is
// created until it is noted, and from just before it is renamed or removed
// until the note is cleared. An interrupt that comes meanwhile ends the
// process as soon as it is let through. Holds nest. On Windows, where the
// handler runs in a thread of its own, it also waits for a port change under
// way (the time-outs set before each transfer), so that nothing changes the
// line after the handler has put it back; the handler itself never lets
// go, so the program's thread cannot change it again before the end.
void hold_interrupts();
void release_interrupts();

// Pauses the process.
void sleep_ms(int milliseconds);

// The file name at the end of a host path: what follows its last "/", and on
// Windows also its last "\" or a drive's "C:". On Windows a byte that ends a
// double-byte character of the ANSI code page (0x5C in many of code page 932)
// separates nothing, so a Japanese folder name is never cut in half.
const char* path_base_name(const char* path);

// The name CreateFileA needs for a port name on Windows: "COM10" and above
// become "\\.\COM10"; every other name is used as given. Portable, so that
// it can be tested on any host.
std::string windows_device_path(const char* name);

// Host files saved whole (platform_files_*.cpp): the bytes go to a new file
// in the target's folder, reach the disk, and only then take the target's
// place in one step, so that a failed or interrupted save leaves the old
// file as it was.

// The file that a save of name replaces: name itself, or the file a
// symbolic link points to, so that the link stays a link. Empty when the
// save has to write into name as a stream instead: name exists but is no
// regular file (a terminal, a pipe, a device), or this user may not write
// it (opening it then fails as a save always did).
std::string file_to_replace(const char* name);

// Why create_new_file made no file.
enum class CreateFailure {
  none,
  name_taken,   // path is already there
  not_allowed,  // this user may not add a file to the folder (or it is read-only)
  other,        // no such folder, a full disk, ...
};

// Creates the file path, which must not exist yet, for writing in byte
// mode, with the permissions of the file model when that exists (a private
// file stays private once replaced). Null when it cannot be created, with
// failure saying why. On Windows the file may be deleted by name while it is
// open (an interrupt's handler does so from its own thread); it goes when
// the last handle to it closes.
std::FILE* create_new_file(const char* path, const char* model, CreateFailure& failure);

// Flushes the stream and makes the operating system put its bytes on the
// disk. False when either fails.
bool sync_file(std::FILE* stream);

// Puts the file temporary in target's place, replacing an existing target
// in one step.
bool replace_file(const char* temporary, const char* target);

}  // namespace platform
