# qv_write_if_changed(<file> <text>): writes the text only when the file does
# not hold it already, so that a file made at configure time keeps its time
# stamp, and `cmake --install` does not install an unchanged file again.
function(qv_write_if_changed output text)
  set(old "")
  if(EXISTS ${output})
    file(READ ${output} old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${output} "${text}")
  endif()
endfunction()
