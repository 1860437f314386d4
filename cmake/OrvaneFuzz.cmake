# The fuzz build (ORVANE_FUZZ, clang): every library is built with ASan, UBSan
# and libFuzzer's coverage; each component's fuzz/ folder adds its targets
# with orvane_fuzz, linking the component's own libraries, so a target sees
# the sources the program is built from.

# orvane_fuzz(NAME SOURCES ... LIBS ... [DEFINES ...]): one target in fuzz/ of
# the build tree, its seeds in corpus/NAME beside its source (listed in
# fuzz/targets.txt for scripts/fuzz.sh).
function(orvane_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS;DEFINES" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  if(F_DEFINES)
    target_compile_definitions(${name} PRIVATE ${F_DEFINES})
  endif()
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  add_dependencies(orvane_fuzz_targets ${name})
  file(RELATIVE_PATH dir ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY ORVANE_FUZZ_TARGETS "${name} ${dir}")
endfunction()

function(orvane_fuzz_collect)
  add_custom_target(orvane_fuzz_targets)
  file(GLOB lists CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/*/fuzz/CMakeLists.txt
       ${PROJECT_SOURCE_DIR}/*/*/fuzz/CMakeLists.txt)
  list(SORT lists)
  foreach(list ${lists})
    get_filename_component(dir ${list} DIRECTORY)
    add_subdirectory(${dir})
  endforeach()
  get_property(targets GLOBAL PROPERTY ORVANE_FUZZ_TARGETS)
  list(JOIN targets "\n" text)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz/targets.txt "${text}\n")
endfunction()
