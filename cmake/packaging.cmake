# Packages made by `cpack` in the build folder: a Debian package of the
# install tree (cpack -G DEB), and on Windows a zip of the programs, the
# README with its pages and the license (cpack -G ZIP), named after the
# processor.
set(CPACK_PACKAGE_NAME qvlink)
set(CPACK_PACKAGE_VENDOR qvlink)
# The Debian package's Maintainer field.
set(CPACK_PACKAGE_CONTACT "${QV_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PC-link file tools for the Zaurus over RS-232")
# One paragraph; each line becomes a line of the Debian description.
set(CPACK_PACKAGE_DESCRIPTION "Console programs that reset the device's PC link, copy files and
communication-log slots to and from the device, list its storage and install
add-in packages, by cable or through the optical relay adapter; an offline
extractor of backup archives; and qvemu, an emulator of the device end of the
link on a pseudo-terminal.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # Debian ships manual pages compressed (gzip -9n: no name, no time stamp,
  # so the same pages give the same bytes); `cmake --install` keeps them plain.
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress_man_pages.cmake)
  # The C++ runtime the programs link against: computed from the programs
  # when dpkg-shlibdeps is there (Debian: dpkg-dev), stated otherwise.
  find_program(QV_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(QV_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  endif()
endif()

include(CPack)
