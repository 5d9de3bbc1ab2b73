// Host file names of archive members.
//
// A member is written under its directory name relative to the current
// directory. The archive is not trusted: a name that would land anywhere
// else, or that names no file, is refused. In a UTF-8 locale a Shift-JIS
// name is written converted to UTF-8; otherwise it is kept byte for byte.
#pragma once

#include <cstdint>

// Bytes of a directory entry's name field; spaces serve as fill.
constexpr int member_name_length = 12;

// Turns the 12 name bytes at the start of a directory entry into the host
// file name, in place: every space removed, the rest kept in order and closed
// by a NUL (which may overwrite the entry's byte 12). Returns the name.
char* squeeze_name(std::uint8_t* entry);

// True when the name can be written in the current directory: not empty, not
// made of dots alone, without a path separator of this host (nor, on
// Windows, a drive or stream colon), and not a device name of this host. The
// second byte of a double-byte character is never taken for a separator, but
// only where the host's file system reads the two bytes as one character
// too (is_host_double_byte_character): a "/" after a lead byte still
// separates, and on Windows so does a "\\" after a byte that the code page in
// force does not take for a lead byte.
// A name converted to the user's character set (host_name_from_shift_jis,
// so that the file reads right where it lands) is looked at in the same way:
// on Windows it is in the ANSI code page, which decides the pairs; on POSIX
// only "/" separates, and no pair can hide it.
bool is_safe_member_name(const char* name);
