// Asking the serial driver to hand received bytes on at once, internal to
// the POSIX platform files.
//
// A USB adapter holds what it receives until its latency timer runs out,
// 16 ms as most come, and the protocol waits for the device's answer some
// thousand times per 128 KiB: the timer is paid at every turnaround. Linux
// lowers it when a program sets ASYNC_LOW_LATENCY (TIOCGSERIAL and
// TIOCSSERIAL; no privilege is needed since Linux 4.12, and an FTDI adapter
// then waits 1 ms), macOS takes the receive latency itself (IOSSDATALAT, in
// microseconds). A driver that has no such setting, or refuses it, is no
// error: the port works as it is, and nothing is printed.
#pragma once

namespace platform_posix {

// Asks the driver of fd for low latency. True when it was granted (or was
// already so).
bool request_low_latency(int fd);

// Puts back what request_low_latency changed, if it changed anything; safe
// in a signal handler.
void restore_latency(int fd);

}  // namespace platform_posix
