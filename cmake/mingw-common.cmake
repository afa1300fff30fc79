# Shared part of the mingw-w64 toolchain files.  The "-posix" compilers give
# std::thread and std::mutex; everything is linked statically (see the root
# CMakeLists.txt) so the component needs no DLL besides the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TARVEX_MINGW_TRIPLE})
set(CMAKE_C_COMPILER /usr/bin/${TARVEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${TARVEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${TARVEX_MINGW_TRIPLE}-windres)
set(TARVEX_WIDL /usr/bin/${TARVEX_MINGW_TRIPLE}-widl)
set(CMAKE_FIND_ROOT_PATH /usr/${TARVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# add_test(COMMAND <target>) then runs the target under Wine, with the loader
# of the target's size (TARVEX_WINE, chosen by the including file).
set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVEX_WINE})
