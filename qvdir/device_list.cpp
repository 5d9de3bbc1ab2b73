#include "qvdir/device_list.h"

#include <cstdlib>

#include "pclink/console.h"
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

int list_device(const char* target_name) {
  auto* block = static_cast<std::uint8_t*>(std::malloc(list_block_size));
  if (block == nullptr) {
    print_message(msg("no_memory"));
    return exit_not_done;
  }
  print_message(msg("communicating"));
  ReceivedTrain list = get_list(block, target_name);
  await_closing_enq(list.result);
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
