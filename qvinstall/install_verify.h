// The installer's verify (-v): each installed file is read back from the
// device and compared with what was sent, since the write handshake alone
// cannot prove a file on a noisy line.
#pragma once

#include <cstdint>
#include <vector>

// What the device should hold once host_name is sent: the file's bytes, and
// the end-of-text byte when the end mark goes with it. False when the file
// cannot be read whole or is too large to be read back (the reason printed
// for the latter).
bool take_expected_copy(const char* host_name, bool end_mark,
                        std::vector<std::uint8_t>& expected);

// After the device confirmed the file: takes its ENQ, reads device_name
// back and compares. The device's closing ENQ is left for the next step.
bool installed_file_matches(const char* device_name, const std::vector<std::uint8_t>& expected);
