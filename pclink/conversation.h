// The handshakes built on packets: a command and its closing EOT, the reply
// with its acknowledgements, and the conversation steps every program uses.
//
// Principles of operation: the host starts every exchange. A command goes
// out as Packet number 1 and is closed with EOT; the device accepts each
// with one byte, and a NAK makes the host send the same thing again. The
// host asks for the reply with ENQ, acknowledges the reply Packet and the
// EOT that follows it, and the device then announces with ENQ that it is
// ready for the next command.
#pragma once

#include <cstdint>

// Sends a command as Packet 1 and closes it with EOT, each repeated while the
// device answers NAK. Returns the last byte the device sent (normally ACK).
int send_command(int n, const std::uint8_t* payload);
// Closes a write train and takes the device's reply (as recv_reply):
// EOT until the device answers ACK, then ENQ. Anything else leaves a doubt
// about the line (line_doubts.h): a device that refuses the EOT of a train
// it took whole is rare, and an answer out of step is not. Another byte of
// the protocol (NAK, CAN, ...), or our EOT damaged on its way
// (unheard_control), sends it again; a byte the device never sends is its
// ACK, damaged. On a cable, silence (the EOT lost, or the ACK) and an ACK
// that may be our own EOT damaged into one are told apart by asking with
// ENQ (device_left_train).
int end_write_train(std::uint8_t* buffer, int capacity);

// The device's write handshake. Every write Packet is answered with one
// byte: ACK takes it, NAK refuses it and it goes again. Any other answer is
// damage, with no byte that says what it was: it is taken as the likelier
// ACK, since sending again a Packet the device took would store its bytes
// twice, and the doubt it leaves makes the write unproven, so that it is
// read back (a NAK taken for an ACK shows there as a missing piece). The
// same holds for a second or a stray answer byte, which is seen later as a
// byte out of place.
// The number a write Packet goes under when it goes again.
enum class RepeatNumber {
  next,  // every transmission takes the next number, a repeat included
  same,  // a repeat keeps its number (the installer's end-of-text Packet)
};
constexpr long long no_progress_mark = -1;
struct WriteRules {
  RepeatNumber repeat;
  // A progress mark with every transmission, with these bytes done; none
  // with no_progress_mark.
  long long marked_done = no_progress_mark;
  // A device silent after the Packet is not the end of the run: see
  // device_ended_train.
  bool silence_may_end_train = false;
};
// What send_write_packet returns, under silence_may_end_train, when no
// answer came: the device may have ended the train on one of our bytes.
// After a Packet whose SOH the line damaged, the device passes over our
// bytes to the next 0x04 (a Packet number or a data byte), takes it for
// the train's EOT, answers ACK in the middle of our Packet and waits for
// ENQ, deaf to the Packets that follow. The caller then asks with ENQ for
// the device's reply (device_left_train): a device that ended the train
// answers it; one that did not passes over it, its answer lost on the way,
// and the train goes on. The silence is a doubt, so the write is read back.
constexpr int device_ended_train = -1;
// Sends the write Packet of n bytes under number until the device takes it;
// a line that never lets it through ends the program after
// handshake_repeat_limit repeats in a row. Returns the number the next
// Packet takes: the one after the last transmission's; or
// device_ended_train, with the last transmission's number in silent_number
// if given.
int send_write_packet(int n, const std::uint8_t* payload, int number, const WriteRules& rules,
                      int* silent_number = nullptr);

// What the line showed from a write's first Packet on, for the device's
// confirmation to prove the write or leave it to a read-back.
struct WriteWatch {
  long doubts = 0;
  long refused = 0;
};
// Begins to watch a write, before its request goes out.
WriteWatch watch_write();
// The write is proven when the line gave no doubt and, on a cable without
// echo, the device refused fewer than two of its Packets: there nothing
// shows the host what reached the device, and a line that damages Packets
// that often also flips two bits alike in one now and then, which passes
// the device's sum.
bool write_proven(const WriteWatch& since);
// Asks for the device's reply and completes its handshake; the payload is
// left in buffer (capacity bytes). Returns what recv_packet returned for the
// reply it accepted. A reply that fails any check (format, number,
// complement, length, checksum, cut short) is drained and NAKed, and the
// device sends it again, up to handshake_repeat_limit times in a row: a
// damaged "DOK" is still the device's consent, which it has acted on, so it
// must never be read as a refusal.
int recv_reply(std::uint8_t* buffer, int capacity);
// recv_reply after its ENQ went out.
int take_reply(std::uint8_t* buffer, int capacity);
// After a write Packet met silence (device_ended_train): asks with ENQ for
// the device's reply, and whether it began to come within the line's
// time-out (a device may store the file before it answers). A device that
// ended the train answers; one that is still reading the train passes over
// the ENQ, and then its answer to our Packet was lost on the way. The
// reply, when it comes, is taken with take_reply.
bool device_left_train();

// Whether a received payload of the given length (a recv_packet result)
// begins with answer, such as "DOK". A missing or short reply never matches,
// even when the buffer still holds an earlier reply.
bool reply_begins_with(const char* answer, const std::uint8_t* payload, int length);

// The opening exchange of a device service: the three-letter command word,
// then the reply, which must begin with "DOK". Prints the not-connected
// message and returns 0 otherwise; 1 on consent.
int request_service(const char* command_word, std::uint8_t* buffer, int capacity);
// request_service with "CFV", the connection request.
int connect_device(std::uint8_t* buffer, int capacity);
// The reset command "CLE". Prints "リセットに失敗しました" when the device does not
// answer "DOK". Returns 1 when it did, 0 otherwise.
int reset_device();
// Takes the device's closing ENQ (or CAN) off the line (wait_for(ENQ)).
void await_enq();

