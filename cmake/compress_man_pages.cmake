# Run by cpack on its staging tree, before the package is made: compresses
# every manual page in it with gzip -9n.
find_program(QV_GZIP gzip REQUIRED)
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/*")
foreach(page IN LISTS pages)
  if(NOT page MATCHES "\\.gz$")
    execute_process(COMMAND ${QV_GZIP} -9nf ${page} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip -9n ${page} failed")
    endif()
  endif()
endforeach()
