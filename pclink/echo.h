// Echo suppression. Some cables hand every transmitted byte back to the
// sender; with suppression on, each sent byte is remembered, and as many
// bytes as were sent are taken off the line as their echo before anything
// is handed on as the device's: the device answers only once the host's
// unit is whole. An echo byte that differs is line damage; an echo byte
// that does not come within 3 s is given up, and a line that has never
// echoed in the run turns suppression off. Internal to the port layer, but
// for the switch itself, which -C clears.
#pragma once

#include <cstdint>

extern bool echo_enabled;  // echo suppression on (the default); -C clears it

// Echo record capacity; when it is full the oldest pending byte is dropped.
constexpr int echo_record_size = 4096;
// Bytes sent and not yet seen coming back.
int echo_pending();

// Notes one byte sent, whose echo is to come back.
void remember_sent_byte(std::uint8_t byte);

// One byte that is not the echo of ours, or -1: first takes off the line
// one byte for every byte pending as echo.
int recv_past_echo(int timeout);

// Suppression on, nothing pending, nothing learnt of the line: the start-up
// state.
void reset_echo();
