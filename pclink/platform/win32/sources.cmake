# The Windows side of the platform contract, one list per use.
#
# Files and the interrupt holds: shared with the test build.
set(PCLINK_SYSTEM_FILE_SOURCES files.cpp interrupt_holds.cpp)
# The port and the rest of the process.
set(PCLINK_SYSTEM_PORT_SOURCES port.cpp line_pace.cpp line_settings.cpp process.cpp)
# The console: terminal, code pages, the command line as typed.
set(PCLINK_SYSTEM_CONSOLE_SOURCES console.cpp)
# Compiled into every program, to run before main: the standard streams in
# binary mode.
set(PCLINK_SYSTEM_START_SOURCES binary_streams.cpp)
foreach(use IN ITEMS FILE PORT CONSOLE START)
  list(TRANSFORM PCLINK_SYSTEM_${use}_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
endforeach()

# shell32: CommandLineToArgvW, for the command line as typed.
set(PCLINK_SYSTEM_LIBRARIES shell32)
