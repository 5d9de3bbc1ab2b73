// Text made safe for a person's terminal, before any character-set
// conversion: every byte that could act on the terminal, or that is no
// character at all, is replaced by its \xNN form.
#pragma once

#include <cstddef>
#include <string>

// Whether byte begins a double-byte Shift-JIS character (0x81..0x9F,
// 0xE0..0xFC).
bool is_shift_jis_lead(unsigned char byte);

// Shift-JIS text with control bytes other than TAB, CR and LF, DEL, and the
// bytes that begin no character (0x80, 0xA0, 0xFD..0xFF, a lead byte
// without a valid second byte) escaped. The result is well-formed
// Shift-JIS, so a conversion never stops inside it for a broken sequence.
std::string escaped_shift_jis(const char* text, std::size_t length);

// Text in the user's own encoding with its control bytes other than TAB,
// CR and LF, and DEL, escaped; everything else is kept as it is.
std::string escaped_user_text(const char* text, std::size_t length);

// Whether text is Shift-JIS through and through: ASCII, half-width kana
// and whole double-byte characters only (control bytes count, as they are
// escaped anyway).
bool is_well_formed_shift_jis(const char* text, std::size_t length);

// Text of no known character set: control bytes and every byte above ASCII
// escaped, so that only ASCII reaches the terminal.
std::string escaped_above_ascii(const char* text, std::size_t length);

// A name made safe as above, shortened to take at most room columns of a
// status line: the whole name when it fits, otherwise "..." and as many of
// its last characters as fit, since the end of a file name (its number,
// its extension) tells one file from the next. A byte is taken for a
// column, which is exact for Shift-JIS and errs on the short side for
// UTF-8. The cut never falls inside a character: in Shift-JIS text it is
// found from the lead bytes; in a name that is well-formed UTF-8 on the
// start of any character; in any other encoding of the user's only on an
// ASCII byte that follows another, which begins a character in every
// multibyte set a terminal uses.
std::string name_fitted_to(const std::string& name, bool shift_jis, std::size_t room);
