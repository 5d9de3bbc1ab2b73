// The command line and the fixed texts of qvunpack.
#pragma once

#include "pclink/command_line.h"
#include "qvunpack/extractor.h"

// Reads the arguments after the program name, left to right: "-l" lists,
// "-t" lists tersely (grouped, "-lt", as well), any other option letter
// rejects the whole line (no archive; refusal says why), and the one other
// argument, a lone "-" included, is the archive name (a second rejects the
// line).
UnpackOptions parse_unpack_arguments(int argc, char** argv, CommandLineRefusal& refusal);

// The title and author suffix, on standard output.
void print_unpack_banner();

// What was wrong (or that no archive was named), the usage text and where
// help is, on standard error; ends the program with exit code 2.
[[noreturn]] void refuse_unpack_command_line(const CommandLineRefusal& refusal);
