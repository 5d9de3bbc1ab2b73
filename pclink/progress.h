// Progress of one file transfer and the notice that the program is waiting
// for the device, on standard error.
//
// On a terminal a transfer shows as one line rewritten in place: the name,
// the bytes done and, when the total is known, the total, the percentage
// and the time left, and the rate once a second has passed, e.g.
//   memo.txt  48.0 KiB / 128.0 KiB  37%  1.9 KiB/s  0:42 left
// followed by "3 retries" once units had to be repeated, and the waiting
// notice while the device is silent. The line keeps within the terminal's
// width (status_line.h) and is redrawn at most ten times a second.
// Redirected, each data transmission prints the mark "o", byte for byte as
// scripts have always seen it.
#pragma once

#include <string>

#include "pclink/status_line.h"

constexpr long long unknown_total = -1;

// A transfer of the device file name (Shift-JIS) begins; redirected,
// nothing is printed.
void begin_progress(const char* device_name, long long total);
// A transfer of a host file begins (name as the user gave it); redirected,
// the name and ":" begin the line that the marks continue.
void begin_host_file_progress(const char* host_name, long long total);

// One data transmission, done bytes counted with it: the mark "o" when
// redirected; on a terminal the line shows done.
void progress_mark(long long done);
// A mark of its own for a transmission without file bytes (the end-of-text
// Packet "T"): printed when redirected; on a terminal the line already tells.
void progress_extra_mark(const char* mark);

// The line or the relay repeated a unit (a NAK, a refused frame): on a
// terminal the progress line counts the repeats of this transfer, so that a
// noisy line shows why the rate falls. Redirected, nothing is printed.
void note_retry();

// The silence notice: shown in the progress line while one is on the
// screen, otherwise on a status line of its own, which goes away again
// when the device answers.
void show_waiting_notice(bool relay);
void hide_waiting_notice();

// The figures of the progress line, elapsed_seconds after the transfer
// began, with retries units repeated. The rate and the time left wait for
// one second of transfer, so that the first packets do not show a rate of
// nonsense.
StatusLineParts progress_figures(long long done, long long total, double elapsed_seconds, int retries);
// The notice's long and short wording.
StatusLineParts waiting_notice_parts(bool relay);
// 512 B, 48.0 KiB, 1.5 MiB.
std::string size_text(double bytes);
// 0:42, 12:05, 1:02:03.
std::string duration_text(long long seconds);
