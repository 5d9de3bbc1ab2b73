// What qvunpack needs from its host beyond the standard library.
#pragma once

#include <cstdint>

// True for the bytes that separate path components (or name a drive) here.
bool is_host_path_separator(std::uint8_t byte);

// Switches standard input to untranslated bytes: the archive holds 0x1A
// bytes, which a text-mode standard input takes for the end of the input.
void use_untranslated_standard_input();
