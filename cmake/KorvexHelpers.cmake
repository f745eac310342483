# korvex_add_tests(<name> [OWN_MAIN] LIBS <targets...> SOURCES <files...>)
# One GoogleTest executable per library, registered test by test with CTest.
# OWN_MAIN: the sources bring their own main() (Qt tests, whose application
# object must end before the program's static objects do).
function(korvex_add_tests name)
  if(NOT KORVEX_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "OWN_MAIN" "" "LIBS;SOURCES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE
    KORVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KORVEX_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/data")
  # Qt tests pick the offscreen platform themselves (QT_QPA_PLATFORM, exported by run.sh too).
  set(test_properties TIMEOUT 600)
  if(KORVEX_SANITIZE)
    list(APPEND test_properties ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan.supp")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${test_properties})
endfunction()

# korvex_add_fuzzer(<name> LIBS <targets...> SOURCES <files...>)
# A libFuzzer target, built only with -DKORVEX_FUZZ=ON; ./run.sh fuzz runs it.
function(korvex_add_fuzzer name)
  if(NOT KORVEX_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LIBS;SOURCES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz)
endfunction()

# korvex_add_bench(<name> LIBS <targets...> SOURCES <files...>)
# A benchmark program in build/bench/, printing "name = value unit" lines.
function(korvex_add_bench name)
  cmake_parse_arguments(ARG "" "" "LIBS;SOURCES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endfunction()
