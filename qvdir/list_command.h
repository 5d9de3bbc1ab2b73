// The command line of qvdir.
#pragma once

#include "pclink/command_line.h"
#include "pclink/serial_port.h"

struct ListCommand {
  int link_mode = default_link_mode;
  const char* target_name = "S1:";  // null: the command line was rejected
  CommandLineRefusal refusal;        // why
};

// Reads the arguments after the program name; the last plain argument is
// the target. -C and -d change the link library's settings on the way.
ListCommand parse_list_command(int argc, char** argv);
