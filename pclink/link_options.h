// The command-line options that the device programs share, read with the
// command-line reader (command_line.h): -C turns echo suppression off, -d
// names the port (attached or as the next argument), -s<digit> chooses the
// link mode (a bare -s is mode 0); and -m, the room of a fetch, for the
// programs that fetch. Each program names C among its flags, s among its
// letters with an optional value and d (and m) among those with a required
// one.
#pragma once

#include "pclink/command_line.h"

// The link mode that the digit after -s selects: its low two bits; a bare
// -s (value null) selects 0.
int link_mode_from_value(const char* value);

// Takes the argument of -d for a program: sets the port name, or prints why
// it cannot and ends the program with exit code 2.
void take_port_option(const char* name);

// Takes item when it is a shared option, changing the link settings (the
// port name and echo_enabled at once, link_mode for open_port). A missing
// port or a link mode that is no single digit refuses the command line
// through reader. False for any other item.
bool take_link_option(const CommandLineItem& item, CommandLineReader& reader, int& link_mode);

// The room that a size after -m gives: "200000", "256K" or "16M", digits
// and then K (1024) or M (1048576) or nothing. -1 for anything else, or a
// room above largest_fetch_room.
int fetch_room_from_size(const char* size);

// Takes -m<size> or -m <size> (qvcopy and qvcomlog): a size that is missing
// or no size refuses the command line.
void take_fetch_room_option(const CommandLineItem& item, CommandLineReader& reader, int& fetch_room);
