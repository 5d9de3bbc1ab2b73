# The manual pages, made in <build dir>/man from man/<program>.1.in: the
# version comes from project(), and the texts that several pages share (the
# link options, exit status, messages of the link and of a transfer, port
# files) come from one fragment each, man/<fragment>.roff.
set(QV_MAN_FRAGMENTS link_options link_messages transfer_messages verify_messages exit_status port_files)

function(qv_make_man_page program)
  set(QV_MAN_PROGRAM ${program})
  foreach(fragment IN LISTS QV_MAN_FRAGMENTS)
    file(READ ${PROJECT_SOURCE_DIR}/man/${fragment}.roff text)
    string(CONFIGURE "${text}" text @ONLY)
    string(TOUPPER ${fragment} name)
    # Without its closing newline, so that the placeholder's line stays one.
    string(REGEX REPLACE "\n$" "" QV_MAN_${name} "${text}")
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/man/${program}.1.in ${PROJECT_BINARY_DIR}/man/${program}.1 @ONLY)
endfunction()

foreach(fragment IN LISTS QV_MAN_FRAGMENTS)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/${fragment}.roff)
endforeach()
