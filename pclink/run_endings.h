// How a run ends on the line: the two endings of a conversation that cannot
// go on, and the bound on repeats that calls the second.
//
// "TimeOut" (exit code 1) is the line's failure: a cable byte that did not
// come or could not go, a relay port gone. "transfer abandoned" (exit code
// 2) is the job's: the line still carries bytes, but too damaged, or out of
// step, to be trusted. Both print the ending note after their own message
// and close the port; nothing is saved.
#pragma once

#include "pclink/messages.h"

// Repeats of one unit in a row that a live device on a sane line never
// needs: past it, the exchange is abandoned (abandon_exchange).
constexpr int handshake_repeat_limit = 16;

// Prints "TimeOut" (and the ending note, if one is set), closes the port and
// ends the program with exit code 1.
[[noreturn]] void timeout_exit();

// Counts one more repeat of a unit in a row; past handshake_repeat_limit the
// exchange is abandoned.
void count_repeat(int& repeats);
// Prints why, then "transfer abandoned" and the ending note, closes the port
// and ends the program with exit code 2: the line is too noisy to go on, or
// the device's train cannot be trusted. Nothing is saved.
[[noreturn]] void abandon_exchange(const Message& why);
// The same when why was printed already.
[[noreturn]] void abandon_explained_exchange();

// A line that an ending in the middle of an exchange prints after its own
// message ("TimeOut", "transfer abandoned"): what the ending leaves undone,
// such as a write whose read-back it cut off: message, naming the device
// file name. Set it just before the exchange and clear it just after; the
// name must live that long.
void set_ending_note(const Message& message, const char* name);
void clear_ending_note();
// Prints the ending note, if one is set.
void print_ending_note();
