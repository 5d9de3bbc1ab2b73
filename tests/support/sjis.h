// Test texts are written in UTF-8; the programs speak Shift-JIS.
#pragma once

#include <string>

// The Shift-JIS bytes of a UTF-8 text (fails the calling test's process
// loudly if the text has no Shift-JIS form).
std::string sjis(const std::string& utf8);
