// The options every device program shares, read with the command-line
// reader (command_line.h): -C turns echo suppression off, -d names the
// port (attached or as the next argument), -s<digit> chooses the link mode
// (a bare -s is mode 0). Each program names C among its flags, s among its
// letters with an optional value and d among those with a required one.
#pragma once

#include "pclink/command_line.h"

// Takes item when it is a shared option, changing the link settings (the
// port name and echo_enabled at once, link_mode for open_port). A missing
// port or a link mode that is no single digit refuses the command line
// through reader. False for any other item.
bool take_link_option(const CommandLineItem& item, CommandLineReader& reader, int& link_mode);

// Takes -m<size> or -m <size>, the room for a fetched file (qvcopy and
// qvcomlog): a size that is missing or no size refuses the command line.
void take_fetch_room_option(const CommandLineItem& item, CommandLineReader& reader, int& fetch_room);
