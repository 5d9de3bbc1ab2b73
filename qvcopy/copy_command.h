// The command line of qvcopy.
#pragma once

#include "pclink/command_line.h"
#include "pclink/file_commands.h"
#include "pclink/serial_port.h"

struct CopyCommand {
  bool fetch = false;  // -g: from the device to the host
  bool verify = false; // -v: read a sent file back and compare it
  int link_mode = default_link_mode;
  // -m<size>: the bytes a fetched file may have; by default as many as the
  // request can announce, so that any file the device holds comes whole.
  int fetch_room = largest_fetch_room;
  // Sending: the host file and the device file; fetching: the device file
  // and the host file. The second defaults to the first, a device file to
  // the host file's base name (../notes/memo.txt: memo.txt). Null first_name:
  // the command line was rejected or named no file.
  const char* first_name = nullptr;
  const char* second_name = nullptr;
  bool second_name_defaulted = false;  // the command line named one file
  CommandLineRefusal refusal;  // why first_name is null, when something was wrong
};

// Reads the arguments after the program name. -C and -d change the link
// library's settings on the way.
CopyCommand parse_copy_command(int argc, char** argv);
