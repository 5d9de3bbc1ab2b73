#include "qvdir/device_list.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "pclink/console.h"
#include "pclink/line_doubts.h"
#include "pclink/local_files.h"
#include "pclink/packet.h"

ReceivedTrain get_list(std::uint8_t* block, const char* target_name) {
  if (!request_name_fits(target_name, list_name_max_length)) {
    return {transfer_not_started, 0};
  }
  int name_length = text_length(target_name);
  std::uint8_t request[work_buffer_size];
  copy_string(copy_string(reinterpret_cast<char*>(request), "RFF"), target_name);
  TrainSink sink;
  sink.block = block;
  sink.capacity = list_block_size;
  int result = fetch_train("CFF", request, name_length + 4, "AFF", sink, target_name);
  return {result, sink.stored};
}

void write_list_text(const std::uint8_t* block, int count) {
  int length = 0;
  while (length < count && block[length] != '\0') {
    ++length;
  }
  write_text(ConsoleStream::output, TextOrigin::shift_jis, reinterpret_cast<const char*>(block),
             static_cast<std::size_t>(length));
}

namespace {

// The list read once more, into block, after the closing ENQ of the last.
ReceivedTrain read_list_again(std::uint8_t* block, const char* target_name) {
  const ReceivedTrain list = get_list(block, target_name);
  await_closing_enq(list.result);
  return list;
}

bool same_list(const ReceivedTrain& one, const std::uint8_t* one_text, const ReceivedTrain& other,
               const std::uint8_t* other_text) {
  return one.result >= 0 && other.result >= 0 && one.stored == other.stored &&
         std::memcmp(one_text, other_text, static_cast<std::size_t>(one.stored)) == 0;
}

// Three reads of one length: block takes each byte as two of them have
// it. False when they differ in length or some byte has three values.
bool vote_bytes(const ReceivedTrain& first, std::uint8_t* block, const ReceivedTrain& second,
                const std::uint8_t* second_text, const ReceivedTrain& third, const std::uint8_t* third_text) {
  if (first.result < 0 || second.result < 0 || third.result < 0 || first.stored != second.stored ||
      first.stored != third.stored) {
    return false;
  }
  for (int i = 0; i < first.stored; ++i) {
    if (block[i] == second_text[i] || block[i] == third_text[i]) continue;
    if (second_text[i] != third_text[i]) return false;
    block[i] = second_text[i];
  }
  return true;
}

// The sums caught the damage the line did, but two bits flipped alike in
// one Packet, one up and one down, leave its sum sound: after two or more
// damaged Packets the list is read again, and printed only when two reads
// agree, a third read settling a difference; list and block then hold the
// reads that agree. False: no two alike.
bool confirm_list(ReceivedTrain& list, std::uint8_t* block, const char* target_name) {
  std::vector<std::uint8_t> second_text(list_block_size);
  print_message(msg("damaged_fetch_read_again"), {"list"});
  const ReceivedTrain second = read_list_again(second_text.data(), target_name);
  if (same_list(list, block, second, second_text.data())) return true;
  print_message(msg("reads_differ"), {"list"});
  std::vector<std::uint8_t> third_text(list_block_size);
  const ReceivedTrain third = read_list_again(third_text.data(), target_name);
  if (same_list(list, block, third, third_text.data())) return true;
  if (same_list(second, second_text.data(), third, third_text.data())) {
    std::memcpy(block, second_text.data(), static_cast<std::size_t>(second.stored));
    list = second;
    return true;
  }
  // Over a long list three reads with a collision each, each in another
  // place, are not rare: each byte as two of them have it.
  if (vote_bytes(list, block, second, second_text.data(), third, third_text.data())) {
    print_message(msg("reads_voted"), {"list"});
    return true;
  }
  print_message(msg("no_two_reads_alike"), {"list"});
  return false;
}

}  // namespace

int list_device(const char* target_name) {
  auto* block = static_cast<std::uint8_t*>(std::malloc(list_block_size));
  if (block == nullptr) {
    print_message(msg("no_memory"));
    return exit_not_done;
  }
  print_message(msg("communicating"));
  const long damaged_before = damaged_arrivals();
  ReceivedTrain list = get_list(block, target_name);
  await_closing_enq(list.result);
  const bool damage_met = damaged_arrivals() - damaged_before >= units_damaged_for_second_look;
  if (list.result >= 0 && damage_met && !confirm_list(list, block, target_name)) {
    std::free(block);
    return exit_not_done;
  }
  bool written = true;
  if (list.result >= 0 || list.result == transfer_packet_error) {
    write_list_text(block, list.stored);
    written = output_written_whole();
  }
  std::free(block);
  if (!written) {
    print_message(msg("output_not_written"), {"list"});
    return exit_not_done;
  }
  return list.result >= 0 ? exit_done : exit_not_done;
}
