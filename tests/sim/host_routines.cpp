// The cases' fixtures and the host's side of each conversation: the
// routines the programs' main functions call, in the same order.
#include "sim/host_routines.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/file_commands.h"
#include "pclink/host_file_fetches.h"
#include "pclink/host_file_transfers.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "qvcomlog/log_command.h"
#include "qvdir/device_list.h"
#include "qvemu/storage.h"
#include "qvinstall/install_modes.h"
#include "qvinstall/settings.h"
#include "sim/conversation_runs.h"

namespace sim {

namespace {


constexpr int send_log_slot = 3;

// File bytes that hold every control byte of the protocol and of the relay
// framing, so that damage can turn data into any of them and back.
Bytes file_content(int size, unsigned salt) {
  Bytes bytes(static_cast<std::size_t>(size));
  std::uint32_t state = 2463534242u ^ (salt * 2654435761u);
  for (std::uint8_t& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 8);
  }
  return bytes;
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

}  // namespace

std::optional<Bytes> read_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  Bytes bytes;
  std::uint8_t block[4096];
  for (std::size_t count; (count = std::fread(block, 1, sizeof block, file)) > 0;) bytes.insert(bytes.end(), block, block + count);
  std::fclose(file);
  return bytes;
}

namespace {

void empty_folder(const std::string& folder) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  while (dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      unlink((folder + "/" + entry->d_name).c_str());
    }
  }
  closedir(listing);
}

void put_device_file(const std::string& name, const Bytes& bytes) {
  write_file(device_folder() + "/" + name, bytes);
}

// Device files whose list text is exactly size bytes long (at least 5:
// "N 0" and CR LF), each line at most 200 bytes.
void lay_out_list(int size) {
  for (int line = 0, left = size; left > 0; ++line) {
    const int length = left > 200 ? 200 : left < 5 ? 5 : left;
    std::string name(static_cast<std::size_t>(length - 4), 'A' + line % 26);
    name[0] = static_cast<char>('A' + line);
    put_device_file(name, {});
    left -= length;
  }
}

}  // namespace

bool is_relay(LineKind line) {
  return line == LineKind::relay_echo || line == LineKind::relay;
}

Routine prepare(const Case& c, Expected& expected) {
  empty_folder(device_folder());
  const int mode = is_relay(c.line) ? link_mode_relay : link_mode_cable_19200;
  const Bytes content = file_content(c.size, static_cast<unsigned>(c.size));
  switch (c.conversation) {
    case Conversation::send:
    case Conversation::send_verified: {
      write_file("up.bin", content);
      expected.device_files.push_back({"UP.BIN", content});
      const bool verify = c.conversation == Conversation::send_verified;
      return [mode, verify] {
        open_port(mode);
        const int outcome = send_host_file("up.bin", "UP.BIN", "", 0, verify);
        close_port();
        exit_program(outcome);
      };
    }
    case Conversation::fetch:
    case Conversation::fetch_verified: {
      unlink("down.bin");
      put_device_file("DOWN.BIN", content);
      expected.host_files.push_back({"down.bin", content});
      const bool verify = c.conversation == Conversation::fetch_verified;
      return [mode, verify] {
        open_port(mode);
        const int outcome = fetch_to_host_file("DOWN.BIN", "down.bin", largest_fetch_room, verify);
        close_port();
        exit_program(outcome);
      };
    }
    case Conversation::list:
      lay_out_list(c.size);
      expected.list_printed = true;
      expected.list = qvemu::Storage(device_folder()).list_text();
      return [mode] {
        open_port(mode);
        const int outcome = list_device("S1:");
        close_port();
        exit_program(outcome);
      };
    case Conversation::log_send: {
      write_file("memo.txt", content);
      char header[log_header_length + 1];
      log_header(send_log_slot, header);
      Bytes stored = qvemu::bytes_of(std::string(header, log_header_length));
      stored.insert(stored.end(), content.begin(), content.end());
      expected.device_files.push_back({"COM3.LOG", stored});
      return [mode] {
        open_port(mode);
        char slot_header[log_header_length + 1];
        log_header(send_log_slot, slot_header);
        const int outcome = send_host_file("memo.txt", "COM3.LOG", slot_header, log_header_length);
        close_port();
        exit_program(outcome);
      };
    }
    case Conversation::log_fetch:
      unlink("log5.txt");
      put_device_file("COM5.LOG", content);
      expected.host_files.push_back({"log5.txt", content});
      return [mode] {
        open_port(mode);
        const int outcome = fetch_to_host_file("COM5.LOG", "log5.txt", largest_fetch_room);
        close_port();
        exit_program(outcome);
      };
    case Conversation::package: {
      const Bytes second = file_content(c.size, static_cast<unsigned>(c.size) + 1);
      write_file("pkg.zrs", qvemu::bytes_of("ZRS,P,Simulated\r\ndesc.txt\r\na.bin\r\nb.bin\r\n"));
      write_file("a.bin", content);
      write_file("b.bin", second);
      expected.device_files = {{"A.BIN", content}, {"B.BIN", second}};
      expected.reset = true;
      return [mode] {
        install_settings = InstallSettings{};
        install_settings.link_mode = mode;
        install_settings.show_desc = false;
        exit_program(install_package("pkg.zrs"));
      };
    }
    case Conversation::program:
      write_file("prog.bas", content);
      expected.device_files.push_back({"PROG.BAS", content});
      expected.reset = true;
      return [mode] {
        install_settings = InstallSettings{};
        install_settings.link_mode = mode;
        install_settings.program_mode = true;
        char name[] = "prog.bas";
        exit_program(install_program(name));
      };
    case Conversation::reset:
      expected.reset = true;
      return [mode] {
        open_port(mode);
        const int reset = reset_device();
        await_enq();
        close_port();
        exit_program(reset ? exit_done : exit_not_done);
      };
  }
  return [] {};
}

}  // namespace sim
