// Echo suppression. Some cables hand every transmitted byte back to the
// sender; with suppression on, every unit written is remembered, and before
// anything is read as the device's, as many bytes as were sent are taken
// off the line as their echo: the device answers only once the host's unit
// is whole. An echo byte that differs is line damage. Internal to the port
// layer, but for the switch itself, which -C clears, and the check of the
// unit the packet layer sends next.
//
// What the echo teaches about the line: when bytes come back but not one
// of them is an echo of ours, the line does not echo, and suppression goes
// off with a note that names -C; the bytes are the device's. When nothing
// at all comes back, nothing is learnt: the echo is given up and the wait
// for the device goes on.
#pragma once

#include <cstdint>

#include "pclink/echo_damage.h"
#include "pclink/echo_match.h"

extern bool echo_enabled;  // echo suppression on (the default); -C clears it

// Echo record capacity; when it is full the oldest pending bytes are dropped.
constexpr int echo_record_size = 4096;
// Bytes sent and not yet seen coming back.
int echo_pending();

// Notes a unit sent, whose echo is to come back; sent_at_ms: when it began
// to go out (platform::monotonic_milliseconds).
void remember_sent(const std::uint8_t* bytes, int count, std::int64_t sent_at_ms);
// How the device checks the next unit sent, if that unit is check.length
// bytes long: damage its echo shows is weighed against the check, and only
// damage that could pass it is a doubt (echo_damage.h). Set by the packet
// layer before it sends a Packet on a cable.
void expect_unit_check(const UnitCheck& check);


// What became of the pending echo.
struct EchoTaken {
  // A byte that took the last echo byte's place and differed from it: line
  // damage, or the device's answer after the last echo byte was lost. If
  // the device stays silent, it was the answer. -1 when there is none.
  int in_place_of_last = -1;
  // The values of the bytes that took echo bytes' places and differed from
  // them, leaving out any that equals one of our own bytes a few places
  // either way: bytes added or lost on the way shift the echo, and our own
  // bytes shifted are no news from the device. Among them may be the
  // device's answer: noise on the way to the device can make it end our
  // Packet before we do and answer while the echo of our last bytes is
  // still coming back.
  ByteValues foreign;
  // The echo did not come back as sent: bytes differed, were lost or
  // came in excess.
  bool irregular = false;
  // An echo was awaited and not one byte came back.
  bool none_came = false;
  // The echo of a unit longer than a byte stopped coming this many bytes
  // short (at most vanished_bytes_limit) past its time on the line, and
  // nothing came behind it for a turnaround: those bytes never reached the
  // device, which waits for them.
  int stopped_short_by = 0;
};

// The most bytes of a unit that may have vanished on the way, for
// stopped_short_by: the noise of a line loses a byte here and there; an
// echo that stops further short is a line that paused, whose bytes may
// still come.
constexpr int vanished_bytes_limit = 2;

// Takes the pending echo off the line, waiting for it at most timeout_ms
// (and never longer than its echo time-out). Whatever the receive buffer
// holds afterwards is the device's. answer_lead: the bytes the device's
// answer is known to begin with, awaited in the same wait as the echo, so
// that an echo and the answer right behind it cost one wake, not two.
// watch_stall: the wait also ends when the echo of a unit longer than a
// byte, on a line seen to echo, stops a byte or two short of it
// (stopped_short_by), rather than wait the whole echo time-out.
EchoTaken take_echo(int timeout_ms, int answer_lead = 0, bool watch_stall = false);

// Suppression on, nothing pending, nothing learnt of the line: the start-up
// state.
void reset_echo();
