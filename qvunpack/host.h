// What qvunpack needs to know of its host beyond the standard library.
#pragma once

#include <cstdint>

// True for the bytes that separate path components (or name a drive) here.
bool is_host_path_separator(std::uint8_t byte);

// True when first and second make one double-byte character of the names
// this host's file system takes, so that second is no separator of its own.
// POSIX hosts take the bytes as they are, and the names come in Shift-JIS;
// on Windows the ANSI code page in force decides which bytes lead.
bool is_host_double_byte_character(std::uint8_t first, std::uint8_t second);

// True for a name that opens a device rather than a file here, whatever
// extension follows it (on Windows "CON", "NUL", "COM1", "LPT1.TXT", ...).
bool is_host_device_name(const char* name);
