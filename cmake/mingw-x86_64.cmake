# Cross-compiling the Windows face with Debian's mingw-w64 (x86_64), run under Wine.
set(TARVEX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
