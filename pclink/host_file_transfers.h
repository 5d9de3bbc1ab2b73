// Whole host files sent to the device: the host side of the programs that
// copy files, a load around one write and then the device's closing ENQ,
// and the read-back that proves a write its handshake did not. Results are
// exit codes of console.h.
#pragma once

#include <cstdint>

// Loads host file host_name behind header_length bytes of room, fills that
// room with header, sends the block as device file device_name and takes the
// device's closing ENQ. A host file that cannot be read whole is refused
// with host_name+":file open error" before anything is sent; then, as after
// a request that could not be built, no closing ENQ is awaited, since the
// idle device sends none.
// A write is done only once it is proven: by a clean handshake, or else by
// reading it back (check_written_file); with verify it is read back always,
// and a file that cannot be read back is refused before anything is sent.
// An unproven write that read back different is sent once more.
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
// printed as the ending's note. Call it only where read_back_possible; the
// caller takes the device's closing ENQ afterwards, as after get_file.
bool read_back_matches(const char* name, const std::uint8_t* sent, int size);

// What a write the device confirmed came to.
enum class WriteCheck {
  whole,          // proven by its handshake or by a read-back
  send_again,     // the handshake was not clean and the read-back differs: worth one more write
  not_whole,      // read back different or not at all, after its message
  not_read_back,  // unproven, and it cannot be read back (the message says why): nothing went out
};
// Proves the write of size bytes from sent as device file name, which the
// device confirmed (put_file's transfer_done, or transfer_unproven when
// unproven is set), its ENQ taken: reads it back when the handshake does not
// prove it, or when verify asks for it. Prints what the read-back found. The
// caller takes the device's closing ENQ after a read-back (every result but
// whole without one, and not_read_back).
WriteCheck check_written_file(const char* name, const std::uint8_t* sent, int size, bool unproven, bool verify);
