// Whole host files to and from the device: the host side of the programs
// that copy files, each a load or save around one file command and then the
// device's closing ENQ. Results are exit codes of console.h.
#pragma once

#include <cstdint>

// Loads host file host_name behind header_length bytes of room, fills that
// room with header, sends the block as device file device_name and takes the
// device's closing ENQ. A host file that cannot be read whole is refused
// with host_name+":file open error" before anything is sent; then, as after
// a request that could not be built, no closing ENQ is awaited, since the
// idle device sends none.
// With verify, the written file is read back and compared (read_back_matches);
// a file that cannot be read back is refused before anything is sent.
int send_host_file(const char* host_name, const char* device_name, const char* header, int header_length,
                   bool verify = false);

// Whether a file of size bytes can be read back under name (the name fits a
// read request, the room fits its 24-bit field); prints why not.
bool read_back_possible(const char* name, int size);

// Proves a write: reads device file name back, with room for one byte more
// than the size bytes that were sent so that a longer stored file shows too,
// and compares it byte for byte. A difference or a failed read-back prints a
// message naming the file and gives false; a read-back that the link layer
// ends ("TimeOut", "transfer abandoned") has the same "not read back" line
// printed as the ending's note. The write handshake alone cannot
// prove a file: a damaged NAK reads as acceptance, and the device then
// stores the file with a data Packet missing. Call it only where
// read_back_possible; the caller takes the device's closing ENQ afterwards,
// as after get_file.
bool read_back_matches(const char* name, const std::uint8_t* sent, int size);

// Fetches device file device_name into room bytes, takes the device's
// closing ENQ and saves exactly what came as host file host_name, an empty
// file included. A file larger than room is refused (the message names -m,
// which raises it) and nothing is saved, as after any failed fetch.
int fetch_to_host_file(const char* device_name, const char* host_name, int room);
