# The real captures that tests and benchmarks use when they are there; a
# checkout that does not lie beside them can name the folder.
set(ORVANE_CAPTURES_DIR "${PROJECT_SOURCE_DIR}/../shared/captures" CACHE PATH "Folder of the real captures")

# Each test program runs in a scratch home of its own (see the script).
set(ORVANE_ISOLATED_TEST "${CMAKE_CURRENT_LIST_DIR}/isolated-test.sh")

# orvane_test(NAME SOURCES... LIBS ...): one test executable, one CTest entry.
function(orvane_test name)
  if(NOT ORVANE_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    ORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ORVANE_CAPTURES_DIR="${ORVANE_CAPTURES_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND bash ${ORVANE_ISOLATED_TEST} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
