# Cross build for 32-bit Windows with Debian's mingw-w64 (i686, posix
# threads), as the product is designed: a 32-bit program, whose process entry
# is 556 bytes and whose registry reads see the 32-bit view of
# HKEY_LOCAL_MACHINE\SOFTWARE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# The Windows dependencies are built into a cache outside the clone; its root
# is passed as PELORIN_WINDOWS_DEPS.
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 $ENV{PELORIN_WINDOWS_DEPS} ${PELORIN_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Everything linked in: the program runs from a folder that holds nothing else.
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Test discovery and ctest run the Windows binaries under Wine.
get_filename_component(_pelorin_wine_run "${CMAKE_CURRENT_LIST_DIR}/../tools/windows/wine-run.sh" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_pelorin_wine_run}")
