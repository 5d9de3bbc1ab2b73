// A scripted stand-in for the serial port, linked into the unit tests in
// place of the host's platform file. Nothing waits for real: a read from an
// empty line "times out" at once and only advances a virtual clock. A read
// takes every byte queued before the next silence, as a port delivers what
// has already arrived.
//
// The far end is scripted in one of two ways, which can be combined:
// - queue_incoming: bytes the device has already sent, read in order;
// - answer_units: one answer per complete unit the host writes (a control
//   byte, or a whole Packet), the way the device answers each step of a
//   handshake: after the time the line takes to carry the unit to it. An
//   empty answer leaves the host waiting.
// With loopback on, every byte written comes straight back first, as an
// echoing cable does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pclink/platform/port.h"

namespace scripted_port {

using Bytes = std::vector<std::uint8_t>;

// Back to a closed port with an empty script, and the port layer back to
// its start-up state.
void reset();

void queue_incoming(const Bytes& bytes);
// A byte that arrives with a parity or framing error.
void queue_damaged(std::uint8_t byte);
// The next read, in queue order, times out / fails with the error code.
void queue_timeout();
void queue_read_failure(int error);
// A silence of the given length before the next queued byte: a read whose
// time-out is longer waits it out, a shorter one times out.
void queue_gap(int milliseconds);

void set_loopback(bool on);
// Whether the port says it keeps the line's pace (platform::line_keeps_pace;
// on by default); off, it stands for a pseudo-terminal. Set before open_port.
void set_paced(bool on);
// The echo of the host's index-th byte (0-based, counted over the run)
// comes back with the bits of flip inverted, as line damage would.
void damage_echo(std::size_t index, std::uint8_t flip);
// Called at every read from an empty line, after the virtual clock moved on;
// a fuzzer throws from it to end a conversation that only waits.
void on_silence(std::function<void()> hook);
void answer_units(const std::vector<Bytes>& answers);
// Called with every byte the host writes, after loopback and unit answers.
void on_write(std::function<void(std::uint8_t)> hook);

// Every open fails for the reason given (the port is missing by default);
// group is the device's group a refused user may join.
void refuse_open(bool refuse, platform::OpenFailure why = platform::OpenFailure::no_such_port,
                 const char* group = "");
// Every write fails with the error code (0: writes succeed).
void fail_writes(int error);

const Bytes& written();
// The host's units so far, each a control byte or a whole Packet.
const std::vector<Bytes>& written_units();
// The bytes of each write the host made, one entry per write.
const std::vector<Bytes>& writes();
bool is_open();
const std::string& opened_name();
platform::LineSettings opened_settings();
int open_count();
// Virtual time spent in read time-outs and pauses.
long long elapsed_ms();
const std::vector<int>& pauses_ms();
// Reads the host made (successful, timed out or failed).
int read_count();
// Bytes (and silences) still queued for the host, with those the port layer
// has received and not handed on yet: what the host has not read.
std::size_t incoming_left();

// The bytes of a Packet as the device would send it.
Bytes packet_bytes(int number, std::string_view payload);
Bytes packet_bytes(int number, const Bytes& payload);
Bytes bytes_of(std::string_view text);

}  // namespace scripted_port
