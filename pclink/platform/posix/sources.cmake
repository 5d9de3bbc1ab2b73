# The POSIX side of the platform contract (Linux, macOS), one list per use.
#
# Files and the interrupt holds: shared with the unit tests, which save real
# files.
set(PCLINK_SYSTEM_FILE_SOURCES files.cpp interrupt_holds.cpp)
# The port and the rest of the process: the unit tests script them instead.
set(PCLINK_SYSTEM_PORT_SOURCES port.cpp line_pace.cpp port_transfers.cpp line_settings.cpp low_latency.cpp marked_input.cpp wait.cpp
                                process.cpp)
# The console: terminal, locale and character sets.
set(PCLINK_SYSTEM_CONSOLE_SOURCES console.cpp)
# Compiled into every program, to run before main.
set(PCLINK_SYSTEM_START_SOURCES)
foreach(use IN ITEMS FILE PORT CONSOLE START)
  list(TRANSFORM PCLINK_SYSTEM_${use}_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
endforeach()

# iconv: part of the C library on glibc, a library of its own elsewhere.
find_package(Iconv REQUIRED)
set(PCLINK_SYSTEM_LIBRARIES Iconv::Iconv)
