// The serial port: one RS-232 line per process, driven one byte at a time.
//
// Principles of operation: every byte read or written is a separate
// platform transfer under its own time-out, counted in hundredths of a
// second (1000 for each PC-link byte on a cable, 100, 50 and 40 inside the
// optical relay framing). Some cables hand every transmitted byte back to
// the sender; with echo suppression on, each sent byte is remembered, and as
// many bytes as were sent are taken off the line as their echo before
// anything is handed on as the device's: the device answers only once the
// host's unit is whole. An echo byte that differs is line damage; an echo
// byte that does not come within 3 s is given up, and a line that has never
// echoed in the run turns suppression off.
// A transfer that fails or times out sets link_failed; on a cable the next
// PC-link byte transfer then prints "TimeOut" and ends the program with exit
// code 1. Inside a Packet whose first byte has come, a missing byte is only
// awaited for a second, and its silence cuts that Packet short instead. In
// link mode 2 the bytes go to and from the relay buffer instead and the
// relay framing carries them to the line.
#pragma once

#include <cstdint>

// Link modes chosen with -s: the low two bits of the digit after "-s".
constexpr int link_mode_cable_9600 = 0;
constexpr int link_mode_cable_19200 = 1;
constexpr int link_mode_relay = 2;
constexpr int default_link_mode = link_mode_cable_19200;

// Time-outs in hundredths of a second.
constexpr int pclink_byte_timeout = 1000;
// Each byte of a Packet after its SOH. The device sends a Packet's bytes
// back to back: about half a millisecond apart at 19200 baud, and a USB
// adapter hands them on in bursts a few tens of milliseconds apart at most.
// A byte that has not come within a second was lost on the way and the
// Packet was cut short: waiting the full 10 s for it would only end the run
// with "TimeOut". Cut off after a second, the Packet is refused like any
// damaged one and the device sends it again. A line that stalls longer
// inside a Packet (the noise soak pauses up to 2 s) costs the same NAK and
// repeat; a shorter wait would refuse Packets that a busy host was merely
// slow to collect.
constexpr int packet_byte_timeout = 100;

// The link mode that an option such as "-s2" selects: the low two bits of
// its third character; a bare "-s" selects 0.
int link_mode_from_option(const char* option);

// Process-wide link state.
extern bool echo_enabled;  // echo suppression on (the default); -C clears it
extern bool link_failed;   // the most recent platform transfer failed or timed out
// The most recent platform transfer failed outright rather than timing out:
// the port itself is gone (an unplugged adapter, a hung-up line).
extern bool port_error;
extern bool relay_active;  // set by open_port in link mode 2

// The port name holds at most this many characters.
constexpr int port_name_max_length = 79;

// Sets the name of the port that open_port opens ("COM2" by default).
// Returns 0, changing nothing, when the name is longer than
// port_name_max_length; 1 otherwise.
int set_port_name(const char* name);
const char* current_port_name();

// Takes the argument of -d for a program: sets the port name, or prints why
// it cannot and ends the program with exit code 2.
void take_port_option(const char* name);

// What take_link_option made of a command-line option.
enum class LinkOption { taken, program_own, rejected };

// The options every device program shares, chosen by the second character of
// argv[index]: -C clears echo_enabled, -d takes the next argument as the port
// name (index moves past it), -s sets link_mode. Any other letter is left to
// the program; -d without a next argument, or with one that begins with "--",
// rejects the command line.
LinkOption take_link_option(int argc, char** argv, int& index, int& link_mode);

// Whether a command-line argument is an option: "-" and at least one more
// character (a lone "-" is a name).
bool is_option(const char* argument);

// Opens and configures the port for a link mode. A port that cannot be
// opened is reported ("port open error") and the program goes on: its first
// transfer then fails.
void open_port(int link_mode);
void close_port();

// One byte from the port with echo suppression: the byte 0..255, or -1 when
// the read failed or timed out.
int recv_raw(int timeout);

// After a damaged unit on a cable: discards what the line still carries
// until it stays silent for half a second (at most 8192 bytes), so that no
// byte of the damaged unit is taken for a control byte or the start of the
// next unit. Leaves link_failed as the drain found it: a time-out before
// the drain still ends the program, the drain's own silence does not.
// Nothing in link mode 2, where each unit arrives as a frame of its own.
struct DrainedBytes {
  int count = 0;  // bytes discarded
  int last = -1;  // the last of them, the one the line fell silent after
};
DrainedBytes drain_line();
// One byte to the port, remembered for echo suppression.
void send_raw(int timeout, std::uint8_t byte);

// The PC-link byte stream: n bytes in or out. On a cable a failed byte reads
// as 0xFF and the next transfer ends the program ("TimeOut", exit code 1).
void link_read(int n, std::uint8_t* destination);
void link_write(int n, const std::uint8_t* source);
// The rest of a unit whose first byte has come: up to n bytes, each awaited
// for packet_byte_timeout on a cable. Returns how many came; fewer than n
// when one did not come in time, the unit cut short by a lost byte. That
// silence is the unit's, not the line's: link_failed is left clear, unless
// the port itself failed, which still ends the program at the next
// transfer. In link mode 2 the bytes come from the relay frame, always n.
int link_read_in_unit(int n, std::uint8_t* destination);

// Pauses for n × 6 ms.
void delay_ticks(int n);

// Prints "TimeOut" (and the ending note, if one is set), closes the port and
// ends the program with exit code 1.
[[noreturn]] void timeout_exit();

// A line that an ending in the middle of an exchange prints after its own
// message ("TimeOut", "transfer abandoned"): what the ending leaves undone,
// such as a write whose read-back it cut off. Set it just before the
// exchange and clear it just after; the two texts must live that long.
void set_ending_note(const char* first, const char* second);
void clear_ending_note();
// Prints the ending note, if one is set. For the endings of the layers above.
void print_ending_note();

// Returns the port layer to its start-up state: port closed, echo
// suppression on, "COM2", nothing pending. For tests that run many
// conversations in one process.
void reset_link_state();

// Echo record capacity; when it is full the oldest pending byte is dropped.
constexpr int echo_record_size = 4096;
int echo_pending();
