# The body of the mingw-w64 toolchain files: they set MINGW_PROCESSOR
# (x86_64 or i686) and include this.
# The win32 thread variant of the compiler: the programs are single-threaded,
# so they need no winpthread library.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_PROCESSOR})

set(CMAKE_C_COMPILER ${MINGW_PROCESSOR}-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER ${MINGW_PROCESSOR}-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER ${MINGW_PROCESSOR}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static linking: each .exe runs without the mingw runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
