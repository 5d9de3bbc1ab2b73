// The device's data trains, received: the Packets that carry a file or a
// list to the host, numbered from 1, each answered with ACK (NAK for a
// damaged one, which the device sends again under the same number), up to
// the device's EOT and the ENQ with which it says it is idle again.
//
// A train is taken as ended only when its end is beyond doubt. An EOT is one
// byte without a check, and the SOH of a damaged Packet (01) or a stray byte
// reads as one just as well: the device falls silent after its own EOT,
// waiting for the host's ACK, so an EOT with bytes right behind it was not
// the device's, and it is NAKed like a damaged Packet. A device that never
// ends its train (Packets without data for ever, or Packets past the room it
// was told) is given up once no sane device could still be sending.
#pragma once

#include <cstdint>
#include <cstdio>

// Results of the file commands besides a byte count (get_file). Every
// negative one means no file was moved.
constexpr int transfer_done = 1;             // put_file: the device confirmed with "AEX"
// put_file: the device confirmed, but the line was not clean during the
// write (line_doubts.h), so the handshake does not prove the file.
constexpr int transfer_unproven = 2;
constexpr int transfer_refused = -1;         // no "DOK", "ANG" for the file, or no "AEX"
constexpr int transfer_packet_error = -2;    // a data Packet with a tag other than the expected one
constexpr int transfer_overflow = -3;        // more data than the announced capacity or the work buffer
constexpr int transfer_not_started = -4;     // the request cannot be built (name too long); nothing sent
// receive_train: a Packet was lost on the way (the device went on past it);
// the rest of the train was taken without storing it, and the device is idle.
constexpr int transfer_broken = -5;

// Where the bytes behind each data Packet's tag go: a memory block, or a file
// written as they come, so that a file of any size costs the host no more
// memory than one Packet.
struct TrainSink {
  std::uint8_t* block = nullptr;  // capacity bytes; used when file is null
  std::FILE* file = nullptr;
  int capacity = 0;        // the bytes the sink takes; a train that brings more overflows
  int stored = 0;          // the bytes it took
  bool write_failed = false;  // the file refused bytes: what it holds is not the train's
  // The line was in doubt during the train before its EOT came: an EOT
  // with no data before it may then be our own ENQ, damaged into EOT and
  // echoed back, rather than the device's.
  bool eot_after_doubt = false;
};

// Data Packets in a row that carry no data, and Packets after the data
// outgrew the room, that the host still acknowledges. A device sends an
// empty data Packet at most at the end of its data, and one told a capacity
// stops there; past these bounds it is not ending its train.
constexpr int empty_data_packets_limit = 64;
constexpr int packets_past_room_limit = 64;

// Empties the sink for a train to be received again: false when its file
// cannot be emptied (a pipe, a terminal).
bool restart_sink(TrainSink& sink);

// Receives the device's train (after the host's ENQ has asked for it) into
// sink. Every data Packet must begin with data_tag ("AFV", "AFF"); name is
// what the messages call the thing fetched. Returns the count stored, or
// transfer_refused ("ANG"), transfer_packet_error or transfer_overflow after
// its message. The device's closing ENQ is taken as well (await_enq then
// returns at once). A train that lost a Packet returns transfer_broken,
// after its message; any other train that cannot be trusted ends the
// program (abandon_exchange).
int receive_train(const char* data_tag, TrainSink& sink, const char* name);
