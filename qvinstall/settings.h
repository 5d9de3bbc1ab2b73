// The installer's command line and the settings it leaves behind.
#pragma once

#include "pclink/serial_port.h"

// Process-wide for one run: set while the arguments are read, read by the
// install routines afterwards. Only end_mark changes later: the first file
// that carries the end-of-text Packet clears it.
struct InstallSettings {
  int link_mode = default_link_mode;
  bool end_mark = false;      // -t
  bool reset_after = true;    // -R clears it
  bool program_mode = false;  // -q
  bool show_desc = true;      // -D clears it
  bool verify = false;        // -v: read every sent file back and compare it
};

extern InstallSettings install_settings;

// Reads the arguments after the program name from left to right into
// install_settings (and the port settings of the library for -C and -d);
// letters may be grouped (-tD).
// Returns the name to install, the last one given; null when there is none
// or an argument rejected the command line. The name stays in argv, which
// the install routines may change in place.
char* parse_arguments(int argc, char** argv);

// Ends a command line that parse_arguments refused or that named nothing:
// what was wrong, the two usage lines and the options they leave out.
[[noreturn]] void refuse_install_command_line();
