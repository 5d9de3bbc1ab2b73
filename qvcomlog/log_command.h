// The command line of qvcomlog and the names and header of a log slot.
#pragma once

#include "pclink/command_line.h"
#include "pclink/file_commands.h"
#include "pclink/serial_port.h"

struct LogCommand {
  bool fetch = false;  // -g: from the log slot to the host
  bool verify = false; // -v: read a sent log file back and compare it
  int log_slot = 0;    // 0 to 8
  int link_mode = default_link_mode;
  // -m<size>: the bytes a fetched log file may have; by default as many as
  // the request can announce.
  int fetch_room = largest_fetch_room;
  const char* host_name = nullptr;  // null: rejected, or no file named
  CommandLineRefusal refusal;       // why host_name is null, when something was wrong
};

// Reads the arguments after the program name. -C and -d change the link
// library's settings on the way.
LogCommand parse_log_command(int argc, char** argv);

// The slot that the character after -c selects: its low four bits, where 9
// and above fall back to slot 0 ("9" and ":" give 0, "A" gives 1, a bare
// -c, value null, gives 0).
int log_slot_from_value(const char* value);

// "COM0.LOG" to "COM8.LOG": 8 characters and a NUL.
constexpr int log_device_name_size = 9;
void log_device_name(int log_slot, char (&name)[log_device_name_size]);

// The record header the device expects in front of a log file's contents,
// "#01;19100101 000000\r###;\r" with the slot digit at index 7.
constexpr int log_header_length = 25;
void log_header(int log_slot, char (&header)[log_header_length + 1]);
