# Debian keeps a package's license in share/doc/<package>/copyright, in its
# machine-readable format: a header naming the work, then one stanza for
# every file with the holder and the license's text, each line of the text
# indented by one space and an empty line written as " .". Made from LICENSE,
# so that the two cannot say different things.
include(${CMAKE_CURRENT_LIST_DIR}/write_if_changed.cmake)
function(qv_write_debian_copyright output)
  set(license_file ${PROJECT_SOURCE_DIR}/LICENSE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${license_file})
  file(READ ${license_file} license)
  if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.+[^\n])\n*$")
    message(FATAL_ERROR "LICENSE: no \"Copyright (c) ...\" line followed by the license's text")
  endif()
  set(holder "${CMAKE_MATCH_1}")
  string(REPLACE "\n\n" "\n.\n" text "${CMAKE_MATCH_2}")
  string(REPLACE "\n" "\n " text " ${text}")
  string(CONCAT copyright
         "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
         "Upstream-Name: ${PROJECT_NAME}\n"
         "Upstream-Contact: ${QV_CONTACT}\n"
         "\n"
         "Files: *\n"
         "Copyright: ${holder}\n"
         "License: Expat\n"
         "${text}\n")
  qv_write_if_changed(${output} "${copyright}")
endfunction()
