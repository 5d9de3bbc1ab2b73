#include "pclink/host_file_transfers.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/file_commands.h"
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

namespace {

// Reads device file name back into stored, which holds size + 1 bytes so
// that a longer stored file shows; its length, or -1 when the read-back
// could not be had. A line that fails during it ends the program in the
// link layer, which then says what is left undone before it exits.
int read_back(const char* name, std::uint8_t* stored, int size) {
  set_ending_note(msg("not_verified"), name);
  const int count = get_file(size + 1, stored, name);
  clear_ending_note();
  return count;
}

bool same_as_sent(const std::uint8_t* stored, int count, const std::uint8_t* sent, int size) {
  // An empty file may come without a block at all.
  return count == size && (size == 0 || std::memcmp(stored, sent, static_cast<std::size_t>(size)) == 0);
}

// Whether each byte came back as sent in one of two read-backs of the
// file's length. A read-back's Packet can come altered behind a sound sum
// (two bits that cancel in it), in another place each time; a byte stored
// wrong comes back wrong in both, the same way.
bool each_byte_read_back(const std::uint8_t* first, const std::uint8_t* second, int count, const std::uint8_t* sent,
                         int size) {
  if (count != size) return false;
  for (int i = 0; i < size; ++i) {
    if (first[i] != sent[i] && second[i] != sent[i]) return false;
  }
  return true;
}

}  // namespace

bool read_back_matches(const char* name, const std::uint8_t* sent, int size) {
  const std::size_t room = static_cast<std::size_t>(size) + 1;
  std::unique_ptr<std::uint8_t[]> first(new (std::nothrow) std::uint8_t[room]);
  if (first == nullptr) {
    print_message(msg("no_memory"));
    return false;
  }
  int count = read_back(name, first.get(), size);
  if (count >= 0 && same_as_sent(first.get(), count, sent, size)) {
    return true;
  }
  if (count >= 0) {
    // The difference may be the read-back's own: a second one tells.
    std::unique_ptr<std::uint8_t[]> second(new (std::nothrow) std::uint8_t[room]);
    if (second == nullptr) {
      print_message(msg("no_memory"));
      return false;
    }
    print_message(msg("read_back_again"), {name});
    await_enq();  // the first read-back's closing ENQ
    const int first_count = count;
    count = read_back(name, second.get(), size);
    if (count >= 0 && (same_as_sent(second.get(), count, sent, size) ||
                       (count == first_count && each_byte_read_back(first.get(), second.get(), count, sent, size)))) {
      return true;
    }
  }
  print_message(count < 0 ? msg("not_verified") : msg("read_back_differs"), {name});
  return false;
}

WriteCheck check_written_file(const char* name, const std::uint8_t* sent, int size, bool unproven, bool verify) {
  if (!unproven && !verify) {
    return WriteCheck::whole;
  }
  // With verify the read-back was found possible before the write.
  if (unproven && !verify && !read_back_possible(name, size)) {
    print_message(msg("write_not_proven"), {name});
    return WriteCheck::not_read_back;
  }
  if (read_back_matches(name, sent, size)) {
    if (unproven) {
      print_message(msg("write_read_back_whole"), {name});
    }
    return WriteCheck::whole;
  }
  return unproven ? WriteCheck::send_again : WriteCheck::not_whole;
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
  const int size = loaded_size();
  if (verify && !read_back_possible(device_name, size)) {
    std::free(block);
    return exit_not_done;
  }
  WriteCheck check = WriteCheck::not_whole;
  for (int writes = 1;; ++writes) {
    int result = put_file(size, block, device_name);
    await_closing_enq(result);
    if (result != transfer_done && result != transfer_unproven) {
      break;
    }
    const bool unproven = result == transfer_unproven;
    check = check_written_file(device_name, block, size, unproven, verify);
    if ((unproven || verify) && check != WriteCheck::not_read_back) {
      await_enq();  // the read-back's closing ENQ
    }
    // A damaged line stored it wrong: on a line no worse, one more write
    // stores it whole.
    if (check != WriteCheck::send_again || writes == 2) {
      break;
    }
    print_message(msg("sending_again"), {device_name});
  }
  std::free(block);
  return check == WriteCheck::whole ? exit_done : exit_not_done;
}
