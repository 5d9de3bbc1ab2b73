// The device's list service: "CFF", the list request "RFF" with the target
// name as typed (no "S1:" of its own, no capacity), and a train of "AFF"
// Packets carrying the list text.
#pragma once

#include <cstdint>

#include "pclink/file_commands.h"

// The room for the list text, allocated for one run.
constexpr int list_block_size = fetch_limit;

// "RFF", the name and its NUL must fit the 4096-byte work buffer.
constexpr int list_name_max_length = 4092;

// One list conversation; the text goes into block (list_block_size bytes).
// A target name that does not fit a request is refused before anything is
// sent (result transfer_not_started).
ReceivedTrain get_list(std::uint8_t* block, const char* target_name);

// Writes the first count bytes of the list on standard output, up to the
// first NUL among them.
void write_list_text(const std::uint8_t* block, int count);

// The whole run after the port is open: announce, fetch the list, take the
// device's closing ENQ, print the list. Returns the exit code. After a
// "packet error" the part received is still printed, but the list was not
// had whole; after a refusal or an overflow nothing is printed.
int list_device(const char* target_name);
