// File names that cross between the user and the device. The device
// stores its names in Shift-JIS; a shell in a UTF-8 locale hands over
// UTF-8, which the device would show as nonsense, and a Shift-JIS name
// written as a host file's name in a UTF-8 locale shows as nonsense there.
// A host file name the user typed is never changed: it is used as the
// shell gave it.
#pragma once

#include <string>

// The program's arguments, for device names given among them: where the
// host hands a program its arguments in a narrower set than the user typed
// (the ANSI code page on Windows), such a name is taken as typed. Called
// first thing by a program that takes device names from its command line.
void note_command_line(int argc, char** argv);

// The device's form of a name given in the user's own encoding: its
// Shift-JIS form in a locale of another character set; the name as given
// in the C locale, in a Shift-JIS locale, or when it is no text of the
// locale's set (Shift-JIS bytes already, say, copied from the device's
// list). Returns false, after printing why, when Shift-JIS cannot hold one
// of its characters.
bool device_name_from_user_name(const char* name, std::string& device_name);

// The host file name a fetch defaults to for a device name given by the
// user: the name as typed when it is text of the user's character set;
// otherwise (Shift-JIS bytes, as the device's list gives them) its form in
// that set when it converts cleanly; else the bytes as given.
std::string host_name_for_device_name(const char* name);

// The host's form of a name that is Shift-JIS by nature (an archive
// member's): converted to the user's character set when that is another
// one and every character converts; otherwise the bytes as they are.
std::string host_name_from_shift_jis(const char* name);
