# Cross-compiling the Windows face with Debian's mingw-w64 (i686, the 32-bit target).
set(TARVEX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
