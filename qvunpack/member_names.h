// Host file names of archive members.
//
// A member is written under its directory name relative to the current
// directory. The archive is not trusted: a name that would land anywhere
// else, or that names no file, is refused. In a UTF-8 locale a Shift-JIS
// name is written converted to UTF-8; otherwise it is kept byte for byte.
#pragma once

#include <cstdint>
#include <string>

// Bytes of a directory entry's name field; spaces serve as fill.
constexpr int member_name_length = 12;

// Turns the 12 name bytes at the start of a directory entry into the host
// file name, in place: every space removed, the rest kept in order and closed
// by a NUL (which may overwrite the entry's byte 12). Returns the name.
char* squeeze_name(std::uint8_t* entry);

// True when the name can be written in the current directory: not empty, not
// made of dots alone, without a path separator of this host (nor, on
// Windows, a drive or stream colon), and not a device name of this host. In
// a Shift-JIS name the second byte of a character is never taken for a
// separator; only a byte that can be one counts, so a "/" after a lead byte
// still separates. A name converted to the user's character set is looked
// at byte by byte.
bool is_safe_member_name(const char* name, bool shift_jis);

// The host file name of a member (Shift-JIS): in the user's character set
// when it is another one and the name converts cleanly, so that the file
// reads right where it lands; the archive's bytes otherwise.
struct MemberHostName {
  std::string name;
  bool shift_jis;  // the archive's bytes, unconverted
};
MemberHostName member_host_name(const char* member_name);
