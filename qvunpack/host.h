// What qvunpack needs to know of its host beyond the standard library.
#pragma once

#include <cstdint>

// True for the bytes that separate path components (or name a drive) here.
bool is_host_path_separator(std::uint8_t byte);
