# Every portable source of the link library, from the bottom layer up; the
# operating system's side is in platform/<system>/sources.cmake. Included by
# pclink/CMakeLists.txt and by the fuzzers' project (tests/fuzz).
set(PCLINK_SOURCES
  # Text and sums that depend on nothing.
  checksum16.cpp
  message_language.cpp
  messages.cpp
  status_line.cpp
  terminal_text.cpp
  version.cpp
  # The platform's portable part.
  platform/process_notes.cpp
  platform/windows_device_path.cpp
  # The console and the local files, beside the layers: any layer uses them.
  console.cpp
  console_messages.cpp
  command_line.cpp
  device_names.cpp
  file_saves.cpp
  save_comparisons.cpp
  host_path.cpp
  local_files.cpp
  program_help.cpp
  progress.cpp
  # The layers, in their order.
  line_doubts.cpp
  line_timing.cpp
  serial_port_bytes.cpp
  line_watch.cpp
  echo_damage.cpp
  echo_match.cpp
  echo.cpp
  port_opening.cpp
  serial_port.cpp
  run_endings.cpp
  link_stream.cpp
  relay_framing.cpp
  relay.cpp
  packet.cpp
  answers.cpp
  conversation.cpp
  data_train.cpp
  file_commands.cpp
  host_file_transfers.cpp
  host_file_fetches.cpp
  # The options the programs share, over every layer they set.
  link_options.cpp)
list(TRANSFORM PCLINK_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)

# Compiled into every program rather than archived in the library: it runs
# before main, and a program that needs nothing else of it would never pull
# it out of an archive.
set(PCLINK_START_SOURCES ${CMAKE_CURRENT_LIST_DIR}/platform/program_start.cpp)
