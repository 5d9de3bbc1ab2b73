#include "pclink/host_file_transfers.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/file_commands.h"
#include "pclink/file_saves.h"
#include "pclink/local_files.h"
#include "pclink/run_endings.h"

namespace {

// "ファイルが作れません" (the file cannot be created)
constexpr char cannot_create_message[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8d\xec\x82\xea\x82\xdc\x82\xb9\x82\xf1";

constexpr int largest_read_back_room = 0xFFFFFF;

constexpr char not_verified_message[] = ": not read back, the write is not verified";

}  // namespace

bool read_back_possible(const char* name, int size) {
  if (!request_name_fits(name, read_name_max_length)) {
    return false;
  }
  // The read request announces its room in 24 bits, and the read-back needs
  // one byte more than the file to see a longer stored file.
  if (size < 0 || size >= largest_read_back_room) {
    print_line(name, ": too large to be read back for a verify");
    return false;
  }
  return true;
}

bool read_back_matches(const char* name, const std::uint8_t* sent, int size) {
  auto* stored = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size) + 1));
  if (stored == nullptr) {
    print_line("", no_memory_message);
    return false;
  }
  // A line that fails during the read-back ends the program in the link
  // layer, which then says what is left undone before it exits.
  set_ending_note(name, not_verified_message);
  int count = get_file(size + 1, stored, name);
  clear_ending_note();
  bool matches = count == size && std::memcmp(stored, sent, static_cast<std::size_t>(size)) == 0;
  std::free(stored);
  if (count < 0) {
    print_line(name, not_verified_message);
  } else if (!matches) {
    print_line(name, ": read back, the device file differs from what was sent");
  }
  return matches;
}

int send_host_file(const char* host_name, const char* device_name, const char* header, int header_length,
                   bool verify) {
  // The load refuses a file it cannot read whole, so nothing unread ever
  // goes on the line.
  std::uint8_t* block = load_file_room_before(host_name, header_length);
  if (block == nullptr) {
    print_host_line(host_name, ":file open error");
    // Nothing went out, so the device, still idle, owes no closing ENQ:
    // waiting for one would only end the program with "TimeOut".
    return exit_not_done;
  }
  copy_block(header_length, block, header);
  if (verify && !read_back_possible(device_name, loaded_size())) {
    std::free(block);
    return exit_not_done;
  }
  int result = put_file(loaded_size(), block, device_name);
  await_closing_enq(result);
  bool whole = result == transfer_done;
  if (whole && verify) {
    whole = read_back_matches(device_name, block, loaded_size());
    await_enq();
  }
  std::free(block);
  return whole ? exit_done : exit_not_done;
}

namespace {

// Why a fetch is refused before it starts, beside "ファイルが作れません": a
// writable file alone is not enough, since it is never written in place.
void explain_save_refusal(const char* host_name, SaveStart start) {
  print_line("", cannot_create_message);
  if (start == SaveStart::folder_not_writable) {
    print_host_line(host_name,
                    ": the folder cannot be written, and a file is first saved whole under another name there");
  }
}

void refuse_file_beyond_room(const char* device_name, int room) {
  std::string refusal = ": larger than " + std::to_string(room) + " bytes, not received";
  // At the largest room -m cannot help.
  refusal += room < largest_fetch_room ? " (raise the room with -m)" : " (the most the programs can fetch)";
  print_line(device_name, refusal.c_str());
}

}  // namespace

int fetch_to_host_file(const char* device_name, const char* host_name, int room) {
  // The temporary file is made first: a save that cannot be done is refused
  // before anything goes on the line.
  SaveStart start = start_save(host_name);
  if (start != SaveStart::started) {
    explain_save_refusal(host_name, start);
    return exit_not_done;
  }
  // The device cuts a file at the capacity it is told. Told one byte more
  // than the room, it fills that byte only for a file that does not fit, so
  // a cut file is told from one of exactly the room's size.
  int announced = room + 1;
  auto* buffer = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(announced)));
  if (buffer == nullptr) {
    abandon_save();
    print_line("", no_memory_message);
    return exit_not_done;
  }
  int count = get_file(announced, buffer, device_name);
  await_closing_enq(count);
  int outcome = exit_not_done;
  if (count > room) {
    abandon_save();
    refuse_file_beyond_room(device_name, room);
  } else if (count < 0) {
    abandon_save();
  } else if (finish_save(buffer, count)) {
    // An empty device file makes an empty host file; a file cut short by a
    // full disk is not a copy.
    outcome = exit_done;
  } else {
    print_line("", cannot_create_message);
  }
  std::free(buffer);
  return outcome;
}
