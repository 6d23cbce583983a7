# Small helpers so every folder declares its library, tests, tools and fuzz targets the same way.

# sk_library(NAME SOURCES a.cpp b.cpp DEPENDS other_lib ...)
function(sk_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
endfunction()

# sk_tool(NAME SOURCES ... DEPENDS ...): a program that lands in bin/ beside the game.
function(sk_tool name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  if(SK_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
endfunction()

# sk_test(NAME SOURCES ... DEPENDS ...): a GoogleTest program registered with CTest.
function(sk_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    SK_TEST_BIN_DIR="${SK_BIN_DIR}" SK_TEST_DIR="${CMAKE_BINARY_DIR}/tests"
    SK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "SK_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp")
endfunction()

# sk_fuzz(NAME SOURCES ... DEPENDS ...): a libFuzzer target, built only with SK_FUZZ.
function(sk_fuzz name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  if(NOT SK_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endfunction()
