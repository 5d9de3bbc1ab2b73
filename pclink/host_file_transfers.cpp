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

constexpr int largest_read_back_room = 0xFFFFFF;

}  // namespace

bool read_back_possible(const char* name, int size) {
  if (!request_name_fits(name, read_name_max_length)) {
    return false;
  }
  // The read request announces its room in 24 bits, and the read-back needs
  // one byte more than the file to see a longer stored file.
  if (size < 0 || size >= largest_read_back_room) {
    print_message(msg("too_large_to_verify"), {name});
    return false;
  }
  return true;
}

bool read_back_matches(const char* name, const std::uint8_t* sent, int size) {
  auto* stored = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size) + 1));
  if (stored == nullptr) {
    print_message(msg("no_memory"));
    return false;
  }
  // A line that fails during the read-back ends the program in the link
  // layer, which then says what is left undone before it exits.
  set_ending_note(msg("not_verified"), name);
  int count = get_file(size + 1, stored, name);
  clear_ending_note();
  bool matches = count == size && std::memcmp(stored, sent, static_cast<std::size_t>(size)) == 0;
  std::free(stored);
  if (count < 0) {
    print_message(msg("not_verified"), {name});
  } else if (!matches) {
    print_message(msg("read_back_differs"), {name});
  }
  return matches;
}

int send_host_file(const char* host_name, const char* device_name, const char* header, int header_length,
                   bool verify) {
  // The load refuses a file it cannot read whole, so nothing unread ever
  // goes on the line.
  std::uint8_t* block = load_file_room_before(host_name, header_length);
  if (block == nullptr) {
    print_message(msg("host_file_unreadable"), {host_value(host_name)});
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
  print_message(msg("cannot_create"));
  if (start == SaveStart::folder_not_writable) {
    print_message(msg("folder_not_writable"), {host_value(host_name)});
  }
}

void refuse_file_beyond_room(const char* device_name, int room) {
  // At the largest room -m cannot help.
  print_message(room < largest_fetch_room ? msg("beyond_room") : msg("beyond_largest_room"), {device_name, room});
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
    print_message(msg("no_memory"));
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
    print_message(msg("cannot_create"));
  }
  std::free(buffer);
  return outcome;
}
