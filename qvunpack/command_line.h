// The command line and the fixed texts of qvunpack.
#pragma once

#include "qvunpack/extractor.h"

// Reads the arguments after the program name, left to right: "-l" lists,
// "-t" lists tersely, any other option letter rejects the whole line (no
// archive), and every other argument, a lone "-" included, becomes the
// archive name, the last one winning.
UnpackOptions parse_unpack_arguments(int argc, char** argv);

// The title and author suffix, on standard output.
void print_unpack_banner();

// The usage text, on standard error.
void print_unpack_usage();
