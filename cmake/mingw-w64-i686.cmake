# Cross build for 32-bit Windows with Debian's mingw-w64 (i686, posix
# threads), as the product is designed: a 32-bit program, whose process entry
# is 556 bytes and whose registry reads see the 32-bit view of
# HKEY_LOCAL_MACHINE\SOFTWARE.
set(PELORIN_MINGW_ARCH i686)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
