# Cross build for 64-bit Windows, for the tests only: on a machine that runs
# no 32-bit programs, Wine cannot run the product, so the same sources are
# built for x86_64 and tested under 64-bit Wine (tools/windows/build.sh).
# Never shipped: no script installs or packs it.
set(PELORIN_MINGW_ARCH x86_64)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
