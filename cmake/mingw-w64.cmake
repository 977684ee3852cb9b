# The mingw-w64 cross build (posix threads) shared by the product's 32-bit
# toolchain (mingw-w64-i686.cmake) and the 64-bit test build's
# (mingw-w64-x86_64.cmake), which set PELORIN_MINGW_ARCH and
# CMAKE_SYSTEM_PROCESSOR before including this.
set(CMAKE_SYSTEM_NAME Windows)
set(_pelorin_triple ${PELORIN_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${_pelorin_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_pelorin_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_pelorin_triple}-windres)
# The Windows dependencies are built into a cache outside the clone; its root
# is passed as PELORIN_WINDOWS_DEPS, else taken from the environment (which
# names the product's, i686, when the x86_64 build is configured).
if(NOT PELORIN_WINDOWS_DEPS)
  set(PELORIN_WINDOWS_DEPS $ENV{PELORIN_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${_pelorin_triple} ${PELORIN_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Everything linked in: the program runs from a folder that holds nothing else.
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Test discovery and ctest run the Windows binaries under Wine, with the
# loader and the prefix for this build's architecture.
get_filename_component(_pelorin_wine_run "${CMAKE_CURRENT_LIST_DIR}/../tools/windows/wine-run.sh" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env PELORIN_WINDOWS_TEST_ARCH=${PELORIN_MINGW_ARCH}
    ${_pelorin_wine_run})
