// Device files fetched into host files, read once or, verified, twice.
#include "pclink/host_file_fetches.h"

#include <string>

#include "pclink/console.h"
#include "pclink/file_commands.h"
#include "pclink/file_saves.h"
#include "pclink/line_doubts.h"
#include "pclink/save_comparisons.h"

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
  print_message(room < largest_fetch_room ? msg("beyond_room") : msg("beyond_largest_room"),
                {device_name, std::to_string(room)});
}

// What one read of the device file came to.
enum class Read { whole, failed, beyond_room, not_written };

// Reads the device file into stream and takes the device's closing ENQ.
// The device cuts a file at the capacity it is told. Told one byte more
// than the room, it fills that byte only for a file that does not fit, so a
// cut file is told from one of exactly the room's size. *empty_in_doubt
// tells of an empty file whose EOT came after a doubt about the line.
Read read_into(std::FILE* stream, const char* device_name, int room, bool* empty_in_doubt = nullptr) {
  TrainSink sink;
  sink.file = stream;
  sink.capacity = room + 1;
  int count = read_device_file(device_name, sink);
  if (empty_in_doubt != nullptr) *empty_in_doubt = count == 0 && sink.eot_after_doubt;
  await_closing_enq(count);
  if (count > room) {
    refuse_file_beyond_room(device_name, room);
    return Read::beyond_room;
  }
  if (count < 0) {
    return Read::failed;
  }
  if (sink.write_failed) {
    print_message(msg("cannot_create"));
    return Read::not_written;
  }
  return Read::whole;
}

// One more read of the device file, into a scratch file of its own; null,
// after its message, when it could not be had.
std::FILE* read_again(const char* device_name, int room) {
  std::FILE* scratch = open_scratch_file();
  if (scratch == nullptr) {
    print_message(msg("cannot_create"));
    return nullptr;
  }
  return read_into(scratch, device_name, room) == Read::whole ? scratch : nullptr;
}

// The second read of a verified fetch, and a third when the two differ; the
// save then holds the bytes that two reads agree on. False, after its
// message, when they could not be had.
bool two_reads_agree(const char* device_name, int room) {
  std::FILE* first = save_stream();
  std::FILE* second = read_again(device_name, room);
  if (second == nullptr) {
    return false;
  }
  if (same_bytes(first, second)) {
    return true;
  }
  print_message(msg("reads_differ"), {device_name});
  std::FILE* third = read_again(device_name, room);
  if (third == nullptr) {
    return false;
  }
  if (same_bytes(third, first)) {
    return true;
  }
  if (same_bytes(third, second)) {
    save_scratch_instead(second);
    return true;
  }
  // A noisy line alters a Packet now and then behind a sound sum (two bits
  // that cancel in it), each time in another place: where two of the three
  // reads agree, they hold the device's byte.
  std::FILE* agreed = open_scratch_file();
  if (agreed != nullptr && write_majority(first, second, third, agreed)) {
    print_message(msg("reads_voted"), {device_name});
    save_scratch_instead(agreed);
    return true;
  }
  print_message(msg("no_two_reads_alike"), {device_name});
  return false;
}

}  // namespace

int fetch_to_host_file(const char* device_name, const char* host_name, int room, bool verify) {
  // The temporary file is made first: a save that cannot be done is refused
  // before anything goes on the line.
  SaveStart start = start_save(host_name);
  std::FILE* stream = start == SaveStart::started ? save_stream() : nullptr;
  if (stream == nullptr) {
    abandon_save();
    explain_save_refusal(host_name, start == SaveStart::started ? SaveStart::failed : start);
    return exit_not_done;
  }
  const long damaged_before = damaged_arrivals();
  bool empty_in_doubt = false;
  if (read_into(stream, device_name, room, &empty_in_doubt) != Read::whole) {
    abandon_save();
    return exit_not_done;
  }
  // The sums caught the damage the line did, but two bits flipped alike in
  // one Packet, one up and one down, leave its sum sound. One damaged
  // Packet says little of the line; two or more mean it changes bytes often
  // enough for that to strike too: the file is read again, as -v does, and
  // saved only when two reads agree.
  const bool damage_met = damaged_arrivals() - damaged_before >= units_damaged_for_second_look;
  if (damage_met && !verify) {
    print_message(msg("damaged_fetch_read_again"), {device_name});
  }
  // An empty file is the device's lone EOT, one control byte with no sum:
  // after a doubt about the line before it, it may have been our own ENQ
  // damaged on the way and echoed back. Asking once more costs a few bytes.
  if ((verify || damage_met || empty_in_doubt) && !two_reads_agree(device_name, room)) {
    abandon_save();
    return exit_not_done;
  }
  // An empty device file makes an empty host file; a file cut short by a
  // full disk is not a copy.
  if (!finish_streamed_save()) {
    print_message(msg("cannot_create"));
    return exit_not_done;
  }
  return exit_done;
}
