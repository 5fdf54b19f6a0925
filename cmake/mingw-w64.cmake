# Cross-building for 64-bit Windows with Debian's mingw-w64 compilers, the
# "posix" thread model (std::thread and std::mutex need it):
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLMARK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLMARK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLMARK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLMARK_MINGW_PREFIX}-windres)

# Libraries and headers come from the target's tree only; programs (code
# generators, the host's tools) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLMARK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs are run under wine when a test needs one, their output
# passed on through files (see scripts/wine-run.sh).
find_program(QUILLMARK_WINE NAMES wine64 wine)
if(QUILLMARK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ${QUILLMARK_WINE})
endif()
