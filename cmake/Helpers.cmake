# cdw_add_library(NAME DIR [LINKS ...]): one static library from every source
# under DIR (recursively), so new files need no CMake edit.
function(cdw_add_library name dir)
  cmake_parse_arguments(ARG "" "" "LINKS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${dir}/*.cpp ${dir}/*.c ${dir}/*.h ${dir}/*.qrc)
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  list(FILTER sources INCLUDE REGEX "\\.(cpp|c|h|qrc)$")
  set(cpp ${sources})
  list(FILTER cpp INCLUDE REGEX "\\.(cpp|c)$")
  if(NOT cpp)
    # A subsystem whose code has not been written yet still gives a target.
    set(stub ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${stub} "// no sources yet\n")
    list(APPEND sources ${stub})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  # AUTOMOC does not rerun by itself when the glob brings new files into an
  # existing build folder (its stamp only follows the files it saw before), so
  # a changed source list removes the stamp and the next build runs it again.
  set(source_list ${CMAKE_CURRENT_BINARY_DIR}/${name}_sources.txt)
  string(REPLACE ";" "\n" source_lines "${sources}")
  set(previous_lines "")
  if(EXISTS ${source_list})
    file(READ ${source_list} previous_lines)
  endif()
  if(NOT previous_lines STREQUAL source_lines)
    file(WRITE ${source_list} "${source_lines}")
    file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/timestamp)
  endif()
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
endfunction()

# cdw_add_test(SOURCE): one Qt Test executable per tst_*.cpp, run by CTest
# offscreen; linked against every subsystem so tests need no CMake edit.
function(cdw_add_test source)
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE cdw_testsupport cdw_resources)
  target_precompile_headers(${name} REUSE_FROM cdw_testsupport)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    TIMEOUT 900
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;CDW_SOURCE_DIR=${CMAKE_SOURCE_DIR};CDW_BINARY_DIR=${CMAKE_BINARY_DIR}")
  # Tests that play or record through the shared sound servers run one at a
  # time, so one test never records what another plays. A test that only
  # plays on the way (previews) names CDW_PLAYS_THROUGH_SERVERS.
  file(READ ${source} text)
  if(text MATCHES "CDW_REQUIRE_PULSE|CDW_REQUIRE_JACK|CDW_PLAYS_THROUGH_SERVERS")
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK sound-servers)
  endif()
endfunction()
