// The installer's own conversation with the device: the add-in check, the
// sending of one file, and the closing reset.
//
// Principles of operation: sending a file resembles the library's write
// service but is not the same conversation. It waits for the device's ENQ
// before "CFD", reads the host file whole only once the device consented,
// names the device file in upper case, sends each transmission of the
// request or of a data block under a fresh number, sends no empty closing
// data Packet and may add one end-of-text Packet. A write is proven as the
// file service's are (install_verify.h).
#pragma once

#include <cstdint>

// The buffer each conversation owns for the device's replies and for the
// payloads it builds; a longer reply is received and dropped, never stored
// past the end.
constexpr int exchange_buffer_size = 2048;

// The write request "RFDS1:" + name + NUL must fit the exchange buffer.
constexpr int max_file_name_length = exchange_buffer_size - 7;

// The connection request and the add-in probe of "S1:NIFADR.BOX". 1 when the
// device takes add-ins; otherwise 0 after the reason was printed.
int connect_addin();

// Whether a write request for name fits the exchange buffer; prints the
// refusal when it does not.
bool name_fits_request(const char* name);

// Makes the device file name in place: every lower-case ASCII letter
// becomes upper case; the two bytes of a Shift-JIS character stay as they are.
void make_device_name(char* name);

// Sends the host file name to the device as "S1:" + its Shift-JIS
// (device_names.h), upper-case form. Prints the file's progress line. 1 when
// the device holds the whole file, proven; 0 otherwise. A write that was not
// clean and read back different goes once more.
int send_addin_file(const char* name);

// The reset (unless -R) and the wait for the device's closing ENQ. 0 when the
// device refused the reset, 1 otherwise.
int finish_install();
