# What `cmake --install` puts under its prefix. On Windows: the programs, the
# README with its pages and the license side by side, which is what the zip
# carries. Elsewhere: the programs and qvemu in bin/, a manual page and the
# bash completion for each, and as documentation the README with its pages,
# the sample files and the license, as Debian keeps it (copyright).
include(GNUInstallDirs)

# Who answers for the package (its maintainer, the license's contact). The
# project publishes no address of its own, and the reserved .invalid domain
# makes that plain instead of inventing one.
set(QV_CONTACT "qvlink authors <qvlink@users.invalid>")

set(QV_INSTALLED_PROGRAMS ${QV_PROGRAMS})
if(TARGET qvemu)
  list(APPEND QV_INSTALLED_PROGRAMS qvemu)
endif()

if(WIN32)
  install(TARGETS ${QV_INSTALLED_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  install(DIRECTORY docs/ DESTINATION docs)
  return()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/man_pages.cmake)
install(TARGETS ${QV_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(program IN LISTS QV_INSTALLED_PROGRAMS)
  qv_make_man_page(${program})
  install(FILES ${PROJECT_BINARY_DIR}/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # bash-completion loads a command's completion from a file of its name.
  install(FILES completion/qvlink.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME ${program})
endforeach()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
include(${CMAKE_CURRENT_LIST_DIR}/debian_copyright.cmake)
qv_write_debian_copyright(${PROJECT_BINARY_DIR}/copyright)
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY samples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/samples)
