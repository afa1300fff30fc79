# Cross-compiling the Windows face with Debian's mingw-w64 (x86_64), run under Wine.
set(TARVEX_MINGW_TRIPLE x86_64-w64-mingw32)
# Once wine32 is installed, /usr/bin/wine starts everything with the 32-bit
# loader; 64-bit programs need the 64-bit one by name.
if(EXISTS /usr/lib/wine/wine64)
  set(TARVEX_WINE /usr/lib/wine/wine64)
else()
  set(TARVEX_WINE /usr/bin/wine)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
