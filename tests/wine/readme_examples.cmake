# The README's host examples, taken from it as they stand and run against the
# simulator by hosts of this build's size: the VBScript and the JScript one
# under cscript, the C++ one compiled and run.  A code block is an example
# when the line "<!-- example: NAME -->" stands before it.
set(_readme ${PROJECT_SOURCE_DIR}/README.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_readme})
file(READ ${_readme} _readme_text)

# Writes the code block marked NAME to the build tree's readme/NAME.
function(tarvex_readme_example name)
  string(FIND "${_readme_text}" "<!-- example: ${name} -->" _at)
  if(_at EQUAL -1)
    message(FATAL_ERROR "README.md has no example marked ${name}")
  endif()
  string(SUBSTRING "${_readme_text}" ${_at} -1 _rest)
  string(FIND "${_rest}" "```" _fence)
  string(SUBSTRING "${_rest}" ${_fence} -1 _rest)
  string(FIND "${_rest}" "\n" _line_end)
  math(EXPR _line_end "${_line_end} + 1")
  string(SUBSTRING "${_rest}" ${_line_end} -1 _rest)
  string(FIND "${_rest}" "```" _fence)
  string(SUBSTRING "${_rest}" 0 ${_fence} _code)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/readme/${name}.new "${_code}")
  # Only a changed example is rebuilt.
  configure_file(${CMAKE_CURRENT_BINARY_DIR}/readme/${name}.new
                 ${CMAKE_CURRENT_BINARY_DIR}/readme/${name} COPYONLY)
endfunction()

foreach(_example example.vbs example.js example.cpp)
  tarvex_readme_example(${_example})
endforeach()

add_executable(readme_example ${CMAKE_CURRENT_BINARY_DIR}/readme/example.cpp)
target_include_directories(readme_example PRIVATE ${PROJECT_BINARY_DIR}/src/component/generated)
target_link_libraries(readme_example PRIVATE ole32 oleaut32 uuid)
add_dependencies(readme_example tarvex4_typelib)

# What each example prints when it has done the whole job.
set(_done "^TARVEX MODEMSIM-1$" "^OK$" "^\\+4915112345678 ")
add_test(NAME wine_readme_vbscript
         COMMAND ${_host} cscript ${CMAKE_CURRENT_BINARY_DIR}/readme/example.vbs ${_done})
add_test(NAME wine_readme_jscript
         COMMAND ${_host} cscript ${CMAKE_CURRENT_BINARY_DIR}/readme/example.js ${_done})
add_test(NAME wine_readme_cpp COMMAND ${_host} run $<TARGET_FILE:readme_example> ${_done})
set_tests_properties(wine_readme_vbscript wine_readme_jscript wine_readme_cpp
                     PROPERTIES FIXTURES_REQUIRED registered LABELS wine ENVIRONMENT "${_env}"
                                TIMEOUT 120)
