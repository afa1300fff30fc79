# What `cmake --install` puts on a Linux machine, and the Debian package made
# of it (`cpack -G DEB` in the build folder):
#
#   lib/libtarvex.a              the core areas and the POSIX platform in one archive
#   include/tarvex/              the public headers
#   lib/cmake/Tarvex/            find_package(Tarvex) -> Tarvex::tarvex
#   lib/pkgconfig/tarvex.pc      pkg-config --cflags --libs tarvex
#   bin/tarvex, bin/tarvex-modemsim, their man pages, bash completion
#
# The archive is made of the areas' own objects, so nothing is compiled twice;
# they are position-independent so that a shared library may link them too.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(_tarvex_core_areas tarvex_common tarvex_codec tarvex_config tarvex_platform tarvex_engine
                       tarvex_receive
                       tarvex_posix)
set(_tarvex_objects)
foreach(_area IN LISTS _tarvex_core_areas)
  set_target_properties(${_area} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  list(APPEND _tarvex_objects $<TARGET_OBJECTS:${_area}>)
endforeach()

add_library(tarvex_lib STATIC ${_tarvex_objects})
add_library(Tarvex::tarvex ALIAS tarvex_lib)
set_target_properties(tarvex_lib PROPERTIES OUTPUT_NAME tarvex EXPORT_NAME tarvex
                                            LINKER_LANGUAGE CXX)
target_include_directories(tarvex_lib INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                                $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(tarvex_lib INTERFACE cxx_std_20)
target_link_libraries(tarvex_lib INTERFACE SQLite::SQLite3 Threads::Threads)

set(_tarvex_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Tarvex)
install(TARGETS tarvex_lib EXPORT TarvexTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tarvex DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT TarvexTargets NAMESPACE Tarvex:: DESTINATION ${_tarvex_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TarvexConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/TarvexConfig.cmake
                              INSTALL_DESTINATION ${_tarvex_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TarvexConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TarvexConfig.cmake ${PROJECT_BINARY_DIR}/TarvexConfigVersion.cmake
        DESTINATION ${_tarvex_cmake_dir})

# The .pc file finds its prefix from where it lies, so the same file serves
# /usr/local (cmake --install) and /usr (the package).
file(RELATIVE_PATH TARVEX_PC_PREFIX ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" TARVEX_PC_PREFIX "${TARVEX_PC_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/tarvex.pc.in ${PROJECT_BINARY_DIR}/tarvex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarvex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS tarvex tarvex-modemsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(_name tarvex tarvex-modemsim)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/tarvex.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${_name})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvex)

# Man pages from the tools' own --help (Debian's help2man), so they never
# disagree with the tools.  Without help2man the build goes on without them.
find_program(TARVEX_HELP2MAN help2man)
find_package(Python3 COMPONENTS Interpreter)
if(TARVEX_HELP2MAN AND Python3_Interpreter_FOUND)
  set(_pages)
  foreach(_tool tarvex tarvex-modemsim)
    if(_tool STREQUAL "tarvex")
      set(_what "send and receive SMS through GSM modems")
    else()
      set(_what "a simulated GSM modem on a pseudo-terminal")
    endif()
    set(_page ${PROJECT_BINARY_DIR}/man/${_tool}.1)
    add_custom_command(
      OUTPUT ${_page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/packaging/make_man.py ${TARVEX_HELP2MAN}
              $<TARGET_FILE:${_tool}> ${_page} "${_what}"
      DEPENDS ${_tool} ${PROJECT_SOURCE_DIR}/packaging/make_man.py
      COMMENT "Writing the man page of ${_tool}"
      VERBATIM)
    list(APPEND _pages ${_page})
  endforeach()
  add_custom_target(tarvex_man ALL DEPENDS ${_pages})
  install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no man pages (scripts/setup.sh installs it)")
endif()

# The Debian package: `cpack -G DEB` in the build folder writes
# tarvex_<version>_amd64.deb; its Depends come from the executables' shared
# libraries (dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VENDOR "Tarvex")
set(CPACK_PACKAGE_CONTACT "Tarvex developers <tarvex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send and receive SMS through GSM modems")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvex talks AT commands in PDU mode to GSM modems on serial ports: it sends\n"
    "messages (long texts as concatenated parts), lists, decodes and deletes stored\n"
    "ones, runs USSD requests and reads the modem's identity.  This package holds\n"
    "the tarvex command-line tool, the modem simulator tarvex-modemsim, and the C++\n"
    "library with its headers, CMake package and pkg-config file.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A program built against the library links SQLite too.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libsqlite3-dev, pkg-config, cmake")
include(CPack)
