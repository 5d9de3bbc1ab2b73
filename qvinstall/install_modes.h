// The installer's two modes. Each returns the program's exit code:
// exit_done when everything was installed (and the reset, when asked for,
// was taken), exit_not_done otherwise. A failing line ends the process
// inside the library with exit_line_failed.
#pragma once

// Package mode: the ".zrs" list names a title, a description file and the
// files to send. The port is opened only once the list has passed its
// header test, the description has been shown and every listed name has
// a Shift-JIS form (a name without one ends the run before the port opens).
int install_package(const char* list_name);

// Program mode: the one file name is sent as it is (and made upper case in
// place for the device).
int install_program(char* name);

// Up to five lines of the description file, then "--". A missing name (the
// list had no second line) or a file that cannot be opened shows "--" alone.
void show_description(const char* name);
