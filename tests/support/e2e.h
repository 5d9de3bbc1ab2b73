// End-to-end harness: runs the built programs against qvemu on a
// pseudo-terminal and reads back what went over the line from qvemu's trace.
//
// Every wait is bounded; nothing sleeps to wait for a peer. Tests never pass
// the port option themselves: run_device_program puts "-d <port>" first, so
// that the same tests can drive other builds of the programs through another
// launcher (see launch_command in e2e_runs.cpp).
#pragma once

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/sjis.h"  // sjis(utf8): expected messages as the programs write them

// A device program's title in UTF-8 (sjis() gives what a pipe gets): the
// name, " v", the suite's version, a space and the rest ("ZAURUS ..."), so
// that the expectation follows the version the build was given.
std::string program_title(const std::string& name, const std::string& rest);

// A running qvemu.
struct Emulator {
  pid_t pid = -1;
  int stdout_fd = -1;         // its standard output; closes when it ends
  std::string pty_path;       // the port to give the programs
  std::string work_dir;       // fresh temporary folder of this emulator
  std::string storage_dir;    // the device storage S1:
  std::string trace_path;
  std::string stderr_path;    // qvemu's own standard error
};

// Starts qvemu with --trace into a fresh temporary folder, and --storage
// there too unless args hold one. Fails the test when qvemu does not print
// its port within a few seconds.
Emulator start_emulator(std::vector<std::string> args = {});

// Stops qvemu with SIGTERM (bounded wait, then SIGKILL) and returns the
// trace. Fails the test when qvemu did not end cleanly with exit code 0.
std::string stop_emulator(Emulator& emulator);

struct RunOptions {
  std::string stdin_bytes;       // fed to standard input, which then closes
  std::string working_dir;       // empty: the test's own
  int timeout_ms = 30000;        // the program is killed and the test fails after this
  std::vector<std::string> environment;  // "NAME=value" settings for the program alone
  // interrupt_signal for the program once this text appears: on the
  // terminal in terminal runs, on standard error otherwise.
  std::string interrupt_when_output_has;
  int interrupt_signal = SIGINT;
  pid_t interrupt_pid = 0;  // > 0: the signal goes to this process instead (a device that vanishes)
  long file_size_limit = 0;      // > 0: RLIMIT_FSIZE of the program, with SIGXFSZ ignored
  int user_id = -1;              // >= 0: run as this user, in its group alone (needs root)
  unsigned short terminal_columns = 0;  // > 0: the width of the terminal in terminal runs
  // Standard output is a pipe whose reader has gone before the program
  // writes (as "| head" after its lines): a write to it raises SIGPIPE.
  bool output_unread = false;
  // Standard output goes to this file (it must exist), as "> file" sends it:
  // "/dev/full" fails every write.
  std::string output_file;
  bool output_appended = false;  // opened for appending, as ">> file" opens it
  // RunResult.peak_memory_kb is measured (the program runs under the
  // peak_memory helper; not for runs on a terminal).
  bool measure_peak_memory = false;
};

// Options that run a program in the named locale (LC_ALL, with LANGUAGE and
// QVLINK_RAW empty), in working_dir when one is given.
RunOptions in_locale(const std::string& locale, const std::string& working_dir = {});

struct RunResult {
  int exit_code = -1;            // -1 when killed by a signal or by the time-out
  bool timed_out = false;
  std::string out;               // standard output, bytes as written
  std::string err;               // standard error, bytes as written
  long peak_memory_kb = 0;       // with measure_peak_memory: the largest resident set, in KiB
};

// The one place that turns a program under test and its arguments into a
// command line: <bin>/program, or its Windows build under Wine when the
// environment asks for it (support/e2e_wine.h).
std::vector<std::string> launch_command(const std::string& program, const std::vector<std::string>& args);

// Runs <bin>/program with "-d <pty>" before args.
RunResult run_device_program(const Emulator& emulator, const std::string& program,
                             std::vector<std::string> args, RunOptions options = {});
// Runs any command (command[0] a path), standard streams piped as above.
RunResult run_command_line(const std::vector<std::string>& command, RunOptions options = {});
// The folder of the built programs.
std::string bin_dir();

// Runs <bin>/program with args as given (no port).
RunResult run_program(const std::string& program, std::vector<std::string> args, RunOptions options = {});

// The same with standard output and standard error on one pseudo-terminal,
// the program's controlling terminal, as a person at a terminal runs it;
// standard input is empty. The terminal passes the bytes as written (no CR
// put before LF). RunResult.out holds everything the terminal showed; err
// stays empty.
RunResult run_device_program_on_terminal(const Emulator& emulator, const std::string& program,
                                         std::vector<std::string> args, RunOptions options = {});
RunResult run_program_on_terminal(const std::string& program, std::vector<std::string> args,
                                  RunOptions options = {});

// Reading a trace.
struct TraceUnit {
  char side = 0;                 // 'H' host, 'D' device
  std::string bytes;             // the unit's bytes
  std::string decoded;           // the text after " | "
};
std::vector<TraceUnit> trace_units(const std::string& trace);
// Every byte the host (or the device) sent, in order, as one byte string.
std::string host_bytes(const std::string& trace);
std::string device_bytes(const std::string& trace);
// The texts of the "! " lines (host protocol violations) and "= " lines (events).
std::vector<std::string> trace_violations(const std::string& trace);
std::vector<std::string> trace_events(const std::string& trace);
// Whether one of the trace's events is exactly event.
bool has_event(const std::string& trace, const std::string& event);
// How many of the device's Packets of file data the host answered (ACK or
// NAK), once the device opened a file to read.
std::size_t data_packets_answered(const std::string& trace);

// Whether needle stands anywhere in haystack.
bool contains(const std::string& haystack, const std::string& needle);

// Bytes from "01 01 FE" (spaces optional) and back to "01 01 FE".
std::string from_hex(const std::string& hex);
std::string to_hex(const std::string& bytes);

// A fresh temporary folder; files in and out of it.
std::string make_temp_dir();
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
