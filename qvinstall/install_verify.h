// The installer's files as sent and proven: each host file is read whole
// before the first Packet goes, so that what went out is known, a list or
// a program on standard input included, and a write is proven against it:
// by its handshake when the line stayed clean, else (or always with -v) by
// reading it back from the device.
#pragma once

#include <cstdint>
#include <vector>

#include "pclink/host_file_transfers.h"

// The bytes of host file name ("-": standard input). False when it cannot
// be opened or read whole (a read error, a folder).
bool read_install_file(const char* name, std::vector<std::uint8_t>& bytes);

// After the device confirmed the file device_name: takes its ENQ and, when
// the write needs it (unproven, or -v), reads the file back and compares it
// with expected. The device's closing ENQ after a read-back is left for the
// next step.
WriteCheck prove_installed_file(const char* device_name, const std::vector<std::uint8_t>& expected, bool unproven);
