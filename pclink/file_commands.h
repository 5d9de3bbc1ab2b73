// The device's file service: whole files read from and written to the
// device's storage "S1:", each in one conversation from idle to idle.
//
// Principles of operation: a read opens with "CFV", a write with "CFD"; the
// device consents with "DOK" and announces with ENQ that it is ready. The
// host then names the file in a request Packet, and a train of numbered data
// Packets follows in one direction. In a read the device numbers its Packets
// from 1 and the host answers each with ACK (NAK for a damaged one, which the
// device sends again under the same number) until the device's EOT. In a
// write every transmission of the host, a repeat included, takes the next
// number; each data Packet carries at most 253 file bytes, so the train always
// ends with a Packet of fewer than 253 bytes, an empty one if need be. After
// either operation, whatever its result, the caller takes the device's
// closing ENQ with await_enq.
//
// The host never writes beyond the room it has: a read that brings more than
// the capacity it announced, or a Packet longer than the work buffer, is
// still followed to its end on the line, so that the device is left idle,
// but nothing of it is handed back as a file.
#pragma once

#include <cstdint>

#include "pclink/data_train.h"

// The room both fetching programs allocate by default: 0x20000 bytes.
constexpr int fetch_limit = 131072;

// The largest room -m gives: one byte more than it is announced, and the
// capacity field is 24 bits wide.
constexpr int largest_fetch_room = 0xFFFFFE;

// File bytes in one write data Packet.
constexpr int write_data_bytes = 253;

// The longest device names that fit the 4096-byte work buffer with their
// request around them: "RFV", 3 capacity bytes, "S1:", NUL; "RFDS1:", NUL.
constexpr int read_name_max_length = 4086;
constexpr int write_name_max_length = 4089;

// Reads device file "S1:"+name into destination, which holds capacity bytes;
// the device is told that capacity (a 24-bit field, so at most 0xFFFFFF).
// Returns the number of bytes stored (0 or more) or one of the negative
// results above, each after its message.
int get_file(int capacity, std::uint8_t* destination, const char* name);
// The same read into any sink (data_train.h): the device is told the sink's
// capacity, cut to the 24-bit field.
int read_device_file(const char* name, TrainSink& sink);

// Writes size bytes from source as device file "S1:"+name. Returns
// transfer_done when the device confirmed a write whose handshake was clean,
// transfer_unproven when it confirmed one during which the line was not
// (the caller reads it back), transfer_refused when it withheld consent or
// confirmation, transfer_not_started (nothing sent) for a name longer than
// write_name_max_length or a negative size.
int put_file(int size, const std::uint8_t* source, const char* name);

// Whether name fits a request that holds at most max_length name bytes in
// the work buffer, and in link mode 2 also fits one relay frame with its
// Packet around it (7 bytes fewer); prints
// name+": file name too long for a request" when it does not.
bool request_name_fits(const char* name, int max_length);

// Takes the device's closing ENQ after a file or list command, unless the
// command was never started: nothing went out then, and the idle device
// sends no ENQ, so waiting would only end the program with "TimeOut".
void await_closing_enq(int command_result);

// How a train of device data Packets ended.
struct ReceivedTrain {
  int result;  // the count stored (0 or more) or a negative result above
  int stored;  // bytes stored in the destination, also when result is negative
};

// One fetching conversation of a device service: the service word ("CFV",
// "CFF") and its "DOK", the device's ENQ, the request Packet and EOT, the
// host's ENQ, then the device's data train (receive_train), whose Packets
// must begin with data_tag ("AFV", "AFF"), into sink. name is what the
// messages call the thing fetched. Returns what receive_train returned, or
// transfer_refused without consent.
int fetch_train(const char* service_word, const std::uint8_t* request, int request_length, const char* data_tag,
                TrainSink& sink, const char* name);
