#include "qvemu/options.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <system_error>

namespace qvemu {

namespace {

bool parse_count(const std::string& text, int& count) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  count = std::atoi(text.c_str());
  return true;
}

}  // namespace

bool parse_options(const std::vector<std::string>& arguments, Options& options, std::string& error) {
  Faults& f = options.faults;
  const std::map<std::string, bool*> switches = {
      {"--no-echo", nullptr},         {"--once", &options.once},
      {"--help", &options.help},      {"-h", &options.help},
      {"--version", &options.version},
      {"--refuse", &f.refuse},
      {"--damage-reply", &f.damage_reply}, {"--can-for-eot", &f.can_for_eot},
      {"--can-for-enq", &f.can_for_enq},   {"--nak-request", &f.nak_request},
      {"--long-reply", &f.long_reply},     {"--long-data", &f.long_data},
      {"--no-addin", &f.no_addin},         {"--refuse-store", &f.refuse_store},
      {"--relay", &options.relay},         {"--relay-short-sync", &options.relay_faults.short_sync},
  };
  const std::map<std::string, int*> counts = {
      {"--nak-command", &f.nak_command}, {"--nak-eot", &f.nak_eot},
      {"--silent-after", &f.silent_after}, {"--nak-data", &f.nak_data},
      {"--damage-data", &f.damage_data}, {"--wrong-tag", &f.wrong_tag},
      {"--ang-at", &f.ang_at},           {"--drop-at", &f.drop_at},
      {"--overrun", &f.overrun},
      {"--lose-data", &f.lose_data},     {"--double-data", &f.double_data},
      {"--relay-bad-checksum", &options.relay_faults.bad_checksum},
      {"--relay-wrong-kind", &options.relay_faults.wrong_kind},
      {"--relay-wrong-number", &options.relay_faults.wrong_number},
      {"--relay-lose-syn", &options.relay_faults.lose_syn},
      {"--relay-lose-ack", &options.relay_faults.lose_ack},
      {"--relay-crossed-enq", &options.relay_faults.crossed_enq},
      {"--relay-damage-echo", &options.relay_faults.damage_echo},
      {"--relay-garble", &options.relay_faults.garble},
  };
  const std::map<std::string, std::string*> texts = {
      {"--storage", &options.storage_dir}, {"--trace", &options.trace_path},
  };

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::string value;
    bool has_value = false;
    if (const auto equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      has_value = true;
    }
    auto take_value = [&]() {
      if (has_value) return true;
      if (i + 1 >= arguments.size()) return false;
      value = arguments[++i];
      return true;
    };
    if (auto s = switches.find(name); s != switches.end() && !has_value) {
      if (s->second) *s->second = true;
      else options.echo = false;
    } else if (auto c = counts.find(name); c != counts.end()) {
      if (!take_value() || !parse_count(value, *c->second)) {
        error = name + " needs a count";
        return false;
      }
    } else if (name == "--noise") {
      std::optional<NoiseSettings> noise;
      if (take_value()) noise = parse_noise(value);
      if (!noise) {
        error = "--noise needs SEED:RATE, a decimal seed and a rate from 0 to 0.1";
        return false;
      }
      options.noise = *noise;
    } else if (auto t = texts.find(name); t != texts.end()) {
      if (!take_value() || value.empty()) {
        error = name + " needs a path";
        return false;
      }
      *t->second = value;
    } else {
      error = "unknown option " + arguments[i];
      return false;
    }
  }
  return true;
}

bool prepare_storage_folder(const std::string& folder, std::string& note, std::string& error) {
  std::error_code failure;
  const std::filesystem::file_status status = std::filesystem::status(folder, failure);
  if (std::filesystem::is_directory(status)) return true;
  if (std::filesystem::exists(status)) {
    error = "--storage " + folder + ": not a folder";
    return false;
  }
  if (!std::filesystem::create_directories(folder, failure)) {
    error = "--storage " + folder + ": the folder cannot be made (" + failure.message() + ")";
    return false;
  }
  note = "storage folder " + folder + " made";
  return true;
}

const char* help_text() {
  return
      "usage: qvemu [options]\n"
      "Plays the device end of the PC link on a pseudo-terminal. The first line\n"
      "of standard output is the terminal's path; give it to a program with -d.\n"
      "Serves until SIGTERM or SIGINT.\n"
      "\n"
      "  --storage DIR      the device storage S1: (default: a fresh temporary folder);\n"
      "                     a folder that does not exist is made\n"
      "  --trace FILE       log every unit in both directions, violations and events\n"
      "  --no-echo          do not send the host's bytes back (a cable without echo)\n"
      "  --once             end when the first host session closes the port\n"
      "  --relay            play the optical relay adapter too (link mode 2): every\n"
      "                     unit in one relay frame, blocks traced as h/d lines\n"
      "  --noise SEED:RATE  a noisy line both ways, the echo included: bit flips at\n"
      "                     RATE per byte, and at RATE/10 each dropped bytes, doubled\n"
      "                     bytes, 2-8 garbage bytes, pauses of 0.1-2 s; seeded, each\n"
      "                     fault logged as '= noise ...', a Packet whose data reaches\n"
      "                     the host altered yet sound as '= noise collision ...'\n"
      "  --help, -h         this text\n"
      "  --version          print the version and exit\n"
      "\n"
      "Faults (each is logged as '= fault: ...'; K counts data Packets of a train from 1):\n"
      "  --refuse           answer ANG instead of DOK to every command\n"
      "  --nak-command K    NAK the first K transmissions of each command Packet\n"
      "  --nak-eot K        NAK the first K transmissions of each host EOT\n"
      "  --damage-reply     send the first reply Packet once with a bad checksum\n"
      "  --silent-after N   send nothing after the device's N-th unit (0: nothing at all)\n"
      "  --can-for-eot      send CAN instead of the EOT that closes a reply\n"
      "  --can-for-enq      send CAN instead of the ready ENQ\n"
      "  --nak-request      NAK the first transmission of each write request\n"
      "  --nak-data K       NAK the K-th data Packet from the host once\n"
      "  --damage-data K    send the K-th data Packet to the host damaged once\n"
      "  --wrong-tag K      tag the K-th data Packet to the host \"XYZ\"\n"
      "  --ang-at K         send ANG in place of the K-th data Packet to the host\n"
      "  --drop-at K        fall silent at the K-th data Packet of a train\n"
      "  --overrun N        send N file bytes past the capacity the host announced\n"
      "  --long-reply       make the first reply Packet 5000 bytes long\n"
      "  --long-data        make the first data Packet to the host 5000 bytes long\n"
      "  --no-addin         refuse the add-in probe of S1:NIFADR.BOX with ANG\n"
      "  --refuse-store     answer ANG instead of AEX after a write train\n"
      "  --lose-data K      acknowledge the host's K-th data Packet, store nothing of it\n"
      "  --double-data K    store the host's K-th data Packet twice (AEX all the same)\n"
      "\n"
      "Relay faults (with --relay; N counts frames or ENQ blocks of the run from 1):\n"
      "  --relay-bad-checksum N  send the device's N-th frame first with a bad checksum\n"
      "  --relay-wrong-kind N    send the device's N-th frame first with kind 0x83\n"
      "  --relay-wrong-number N  send the device's N-th frame first numbered 0x0001\n"
      "  --relay-lose-syn N      leave the host's N-th ENQ block unanswered\n"
      "  --relay-lose-ack N      take the host's N-th frame but lose its ACK block\n"
      "  --relay-crossed-enq N   as --relay-lose-ack, and announce the answer at once,\n"
      "                          insisting while the host announces its frame again\n"
      "  --relay-damage-echo N   echo the host's N-th byte (counted over the run) with\n"
      "                          its low bit flipped\n"
      "  --relay-garble N        take the host's N-th frame with its first byte turned\n"
      "                          into 0x21, as if its sum had collided on the way\n"
      "  --relay-short-sync      start every device block with two zero bytes only\n";
}

}  // namespace qvemu
