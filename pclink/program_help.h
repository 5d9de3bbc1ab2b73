// --help and --version, the same for every program of the suite.
//
// A person asking a program what it does gets plain English on standard
// output and exit code 0, so that `qvcopy --help | less` works; each program
// supplies its own text and this part adds what all of them share.
#pragma once

// What one program tells of itself in its --help.
struct ProgramHelp {
  const char* program;   // "qvcopy": the first word of --version
  const char* text;      // what it does, its usage and its own options
  bool device_program;   // adds the port options (-d, -s, -C) and the line's exit code 1
  const char* not_done;  // when it exits 2, besides a rejected command line
  const char* example;
};

// When an argument, wherever it stands, is exactly "--help" or "--version",
// prints the help or "<program> <suite version>" on standard output and ends
// the process with exit code 0; otherwise returns. Called before the
// banner, so that standard output carries the help or version text alone.
// Every other argument beginning with "--" is left to the program's parser,
// which rejects it.
void answer_help_or_version(int argc, char** argv, const ProgramHelp& help);
