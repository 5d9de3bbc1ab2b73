// The command-line options that every device program shares: -C, -d and -s.
#pragma once

// The link mode that an option such as "-s2" selects: the low two bits of
// its third character; a bare "-s" selects 0.
int link_mode_from_option(const char* option);

// Takes the argument of -d for a program: sets the port name, or prints why
// it cannot and ends the program with exit code 2.
void take_port_option(const char* name);

// What take_link_option made of a command-line option.
enum class LinkOption { taken, program_own, rejected };

// The options every device program shares, chosen by the second character of
// argv[index]: -C clears echo_enabled, -d takes the next argument as the port
// name (index moves past it), -s sets link_mode. Any other letter is left to
// the program; -d without a next argument, or with one that begins with "--",
// rejects the command line.
LinkOption take_link_option(int argc, char** argv, int& index, int& link_mode);

// Whether a command-line argument is an option: "-" and at least one more
// character (a lone "-" is a name).
bool is_option(const char* argument);
