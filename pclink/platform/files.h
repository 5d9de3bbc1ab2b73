// Host files as the operating system keeps them, internal to pclink: the
// file name at the end of a path, and files saved whole. Each system
// implements the calls in its own files.cpp.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// The file name at the end of a host path: what follows its last "/", and on
// Windows also its last "\" or a drive's "C:". On Windows a byte that ends a
// double-byte character of the ANSI code page (0x5C in many of code page 932)
// separates nothing, so a Japanese folder name is never cut in half.
const char* path_base_name(const char* path);

// Host files saved whole: the bytes go to a new file in the target's
// folder, reach the disk, and only then take the target's place in one
// step, so that a failed or interrupted save leaves the old file as it was.

// The file that a save of name replaces: name itself, or the file a
// symbolic link points to, so that the link stays a link. Empty when the
// save has to write into name as a stream instead, appending: name exists
// but is no regular file (a terminal, a pipe, a device), it stands for a
// descriptor the process holds (/dev/stdout, whose file the shell opened
// with ">" or ">>"), or this user may not write it (opening it then fails
// as a save always did).
std::string file_to_replace(const char* name);

// Why create_new_file made no file.
enum class CreateFailure {
  none,
  name_taken,   // path is already there
  not_allowed,  // this user may not add a file to the folder (or it is read-only)
  other,        // no such folder, a full disk, ...
};

// Creates the file path, which must not exist yet, for writing in byte
// mode, with the permissions of the file model when that exists (a private
// file stays private once replaced). Null when it cannot be created, with
// failure saying why. On Windows the file may be deleted by name while it is
// open (an interrupt's handler does so from its own thread); it goes when
// the last handle to it closes.
std::FILE* create_new_file(const char* path, const char* model, CreateFailure& failure);

// Empties a file open for writing and puts the stream back at its start,
// for its bytes to be written anew. False for a stream that cannot be
// emptied (a pipe, a terminal): what it was given stays given.
bool empty_file(std::FILE* stream);
// Flushes the stream and makes the operating system put its bytes on the
// disk. False when either fails.
bool sync_file(std::FILE* stream);

// Puts the file temporary in target's place, replacing an existing target
// in one step.
bool replace_file(const char* temporary, const char* target);

}  // namespace platform
