// What qvunpack needs to know of its host beyond the standard library.
#pragma once

#include <cstdint>

// True for the bytes that separate path components (or name a drive) here.
bool is_host_path_separator(std::uint8_t byte);

// True for a name that opens a device rather than a file here, whatever
// extension follows it (on Windows "CON", "NUL", "COM1", "LPT1.TXT", ...).
bool is_host_device_name(const char* name);
