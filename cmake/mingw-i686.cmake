# Cross-compiling the Windows face with Debian's mingw-w64 (i686, the 32-bit
# target: the file VB6, 32-bit Office and 32-bit script hosts load), run under
# Wine's 32-bit loader (Debian's wine32:i386) in the same 64-bit prefix.
set(TARVEX_MINGW_TRIPLE i686-w64-mingw32)
if(EXISTS /usr/lib/wine/wine)
  set(TARVEX_WINE /usr/lib/wine/wine)
else()
  set(TARVEX_WINE /usr/bin/wine)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
