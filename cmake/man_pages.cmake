# The manual pages, made in <build dir>/man from man/<program>.1.in: the
# version and its date come from the top CMakeLists.txt, and the texts that
# several pages share (the link options, exit status, messages of the link and
# of a transfer, port files) come from one fragment each, man/<fragment>.roff.
#
# The sources quote the programs' Japanese messages in UTF-8; the pages made
# from them write every character beyond ASCII as groff's \[uXXXX], so that
# groff renders them in any locale without being told the input's encoding.
include(${CMAKE_CURRENT_LIST_DIR}/write_if_changed.cmake)

set(QV_MAN_FRAGMENTS link_options environment link_messages transfer_progress transfer_messages verify_messages exit_status
                     port_files qvcopy_messages qvdir_messages qvinstall_messages qvrestart_messages qvunpack_messages)

# qv_roff_character(<utf8 bytes of one character> <variable>): sets
# <variable> to the character as \[uXXXX] (upper-case hex, at least 4 digits).
function(qv_roff_character character variable)
  string(HEX "${character}" hex)
  string(LENGTH "${hex}" digits)
  math(EXPR last "${digits} - 2")
  string(SUBSTRING "${hex}" 0 2 lead)
  # The lead byte's own bits: 5 of a 2-byte character, 4 of a 3-byte one, 3 of a 4-byte one.
  math(EXPR code "0x${lead} & (0x7F >> (${digits} / 2))")
  foreach(offset RANGE 2 ${last} 2)
    string(SUBSTRING "${hex}" ${offset} 2 byte)
    math(EXPR code "(${code} << 6) | (0x${byte} & 0x3F)")
  endforeach()
  math(EXPR code "${code}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" code "${code}")
  string(TOUPPER "${code}" code)
  string(LENGTH "${code}" width)
  while(width LESS 4)
    string(PREPEND code 0)
    math(EXPR width "${width} + 1")
  endwhile()
  set(${variable} "\\[u${code}]" PARENT_SCOPE)
endfunction()

# qv_roff_escape_non_ascii(<variable>): rewrites every UTF-8 character of
# <variable> beyond ASCII as \[uXXXX].
function(qv_roff_escape_non_ascii variable)
  set(text "${${variable}}")
  string(ASCII 128 first_continuation)
  string(ASCII 191 last_continuation)
  string(ASCII 192 first_lead)
  string(ASCII 247 last_lead)
  set(character "[${first_lead}-${last_lead}][${first_continuation}-${last_continuation}]+")
  string(REGEX MATCHALL "${character}" characters "${text}")
  list(REMOVE_DUPLICATES characters)
  foreach(one IN LISTS characters)
    qv_roff_character("${one}" escaped)
    string(REPLACE "${one}" "${escaped}" text "${text}")
  endforeach()
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()

function(qv_make_man_page program)
  set(QV_MAN_PROGRAM ${program})
  foreach(fragment IN LISTS QV_MAN_FRAGMENTS)
    file(READ ${PROJECT_SOURCE_DIR}/man/${fragment}.roff text)
    string(CONFIGURE "${text}" text @ONLY)
    string(TOUPPER ${fragment} name)
    # Without its closing newline, so that the placeholder's line stays one.
    string(REGEX REPLACE "\n$" "" QV_MAN_${name} "${text}")
  endforeach()
  set(source ${PROJECT_SOURCE_DIR}/man/${program}.1.in)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} page)
  string(CONFIGURE "${page}" page @ONLY)
  qv_roff_escape_non_ascii(page)
  qv_write_if_changed(${PROJECT_BINARY_DIR}/man/${program}.1 "${page}")
endfunction()

foreach(fragment IN LISTS QV_MAN_FRAGMENTS)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/${fragment}.roff)
endforeach()
