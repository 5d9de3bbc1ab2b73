// qvemu's command line: where to keep storage and the trace, echo, and the
// faults to inject into the device's answers.
#pragma once

#include <string>
#include <vector>

#include "qvemu/line_noise.h"

namespace qvemu {

// Injected faults. Counts K are 1-based positions within each data train;
// 0 means the fault is off (for silent_after, -1 does).
struct Faults {
  bool refuse = false;          // "ANG" instead of "DOK" to every command
  int nak_command = 0;          // NAK the first K transmissions of each command Packet
  int nak_eot = 0;              // NAK the first K transmissions of each host EOT
  bool damage_reply = false;    // the first reply Packet goes out with a bad checksum
  int silent_after = -1;        // send nothing after the device's N-th unit (0: never a unit)
  bool can_for_eot = false;     // CAN instead of the EOT that closes a reply
  bool can_for_enq = false;     // CAN instead of the ready ENQ
  bool nak_request = false;     // NAK the first transmission of a write request
  int nak_data = 0;             // NAK the K-th data Packet from the host once
  int damage_data = 0;          // K-th data Packet to the host goes out damaged once
  int wrong_tag = 0;            // K-th data Packet to the host carries "XYZ"
  int ang_at = 0;               // "ANG" in place of the K-th data Packet to the host
  int drop_at = 0;              // fall silent at the K-th data Packet of a train
  int overrun = 0;              // send this many bytes past the announced capacity
  bool long_reply = false;      // the first reply Packet is longer than 4096 bytes
  bool long_data = false;       // the first data Packet to the host is longer than 4096 bytes
  bool no_addin = false;        // refuse the add-in probe
  bool refuse_store = false;    // answer "ANG" instead of "AEX" after a write train
  int lose_data = 0;            // acknowledge the host's K-th data Packet but store nothing of it
  int double_data = 0;          // store the host's K-th data Packet twice
};

// Faults of the optical relay (with --relay). Counts N are 1-based
// positions among the frames (or ENQ blocks) of the run; 0 means off.
struct RelayFaults {
  int bad_checksum = 0;     // the device's N-th frame first goes out with a bad checksum
  int wrong_kind = 0;       // the device's N-th frame first goes out with kind 0x83
  int wrong_number = 0;     // the device's N-th frame first goes out numbered 0x0001
  int lose_syn = 0;         // the host's N-th ENQ block goes unanswered
  int lose_ack = 0;         // the host's N-th frame is taken but its ACK block is lost
  int crossed_enq = 0;      // as lose_ack, and the device announces its answer over the host's resend
  int damage_echo = 0;      // the echo of the host's N-th byte goes back with its low bit flipped
  int garble = 0;           // the host's N-th frame is taken with its first byte 0x21, its sum sound
  bool short_sync = false;  // every block of the device starts with two zero bytes only
};

struct Options {
  bool echo = true;
  bool once = false;
  bool help = false;
  bool version = false;
  bool relay = false;       // the optical relay adapter instead of the cable
  RelayFaults relay_faults;
  std::string storage_dir;  // empty: a fresh temporary folder
  std::string trace_path;   // empty: no trace file
  Faults faults;
  NoiseSettings noise;      // rate 0: a clean line
};

// Parses the arguments after the program name; on a bad command line
// returns false with the reason in error.
bool parse_options(const std::vector<std::string>& arguments, Options& options, std::string& error);

const char* help_text();

// Makes ready the folder that --storage names: one that does not exist yet
// is made, with what was done in note ("storage folder DIR made"), so that
// the device's first write does not fail for a mistyped path unseen; a path
// that is no folder, or one that cannot be made, returns false with the
// reason in error.
bool prepare_storage_folder(const std::string& folder, std::string& note, std::string& error);

}  // namespace qvemu
