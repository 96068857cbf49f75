# Helpers shared by every folder's CMakeLists.txt.

set(OBRIN_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(OBRIN_TEST_DIR ${CMAKE_BINARY_DIR}/tests)
set(OBRIN_WINE_RUN ${CMAKE_SOURCE_DIR}/tests/wine/run)

# obrin_build_stamp(TARGET)
# The build date and time that a Windows program's log lines carry: its own
# object of common/build_stamp.c, compiled again right before every link of
# that program, so each program names its own build.
function(obrin_build_stamp target)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}_build_stamp.o)
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND ${CMAKE_C_COMPILER} -c ${CMAKE_SOURCE_DIR}/common/build_stamp.c -o ${stamp}
    VERBATIM)
  target_link_options(${target} PRIVATE ${stamp})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/common/build_stamp.c)
endfunction()

# obrin_program(NAME SUBSYSTEM console|windows SOURCES ... [LIBS ...])
# A stand-alone PE32 program in build/win32/bin, Unicode entry point (wmain/wWinMain).
function(obrin_program name)
  cmake_parse_arguments(P "" "SUBSYSTEM" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_options(${name} PRIVATE -municode -m${P_SUBSYSTEM})
  target_link_libraries(${name} PRIVATE ${P_LIBS})
  obrin_build_stamp(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OBRIN_BIN_DIR})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY OBRIN_PROGRAMS ${name})
endfunction()

# obrin_wine_test(NAME SOURCES ... [LIBS ...] [GUI] [OWN_MAIN] [WIN64] [TIMEOUT seconds] [RUN_ARGS ...])
# A GoogleTest program cross-built for Windows and run by ctest under Wine in a
# throwaway prefix of its own, with every program of build/win32/bin beside it;
# the prefix is 32-bit, or 64-bit (the programs under WoW64) with WIN64.
function(obrin_wine_test name)
  cmake_parse_arguments(T "GUI;OWN_MAIN;WIN64" "TIMEOUT" "SOURCES;LIBS;RUN_ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock)
  if(NOT T_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  obrin_build_stamp(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OBRIN_TEST_DIR})
  set(runner_args)
  if(T_GUI)
    list(APPEND runner_args --gui)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  # What the WoW64 leg needs to run the program again (obrin_wow64_test).
  set_target_properties(${name} PROPERTIES OBRIN_RUNNER_ARGS "${runner_args}" OBRIN_TIMEOUT ${T_TIMEOUT})
  set(labels wine)
  if(T_WIN64)
    list(APPEND runner_args --win64)
    list(APPEND labels wow64)
  endif()
  add_test(NAME ${name} COMMAND ${OBRIN_WINE_RUN} ${runner_args} $<TARGET_FILE:${name}> ${T_RUN_ARGS})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${labels}"
    ENVIRONMENT "OBRIN_BIN_DIR=${OBRIN_BIN_DIR};OBRIN_BUILD_DIR=${CMAKE_BINARY_DIR}")
  set_property(GLOBAL APPEND PROPERTY OBRIN_WINE_TESTS ${name})
endfunction()

# obrin_wow64_test(NAME [RUN_ARGS ...])
# The test program NAME of obrin_wine_test once more, as the test wow64_NAME in
# a 64-bit prefix: the WoW64 leg (labels wine and wow64).
function(obrin_wow64_test name)
  cmake_parse_arguments(T "" "" "RUN_ARGS" ${ARGN})
  get_target_property(runner_args ${name} OBRIN_RUNNER_ARGS)
  if(NOT runner_args)
    set(runner_args)
  endif()
  get_target_property(timeout ${name} OBRIN_TIMEOUT)
  add_test(NAME wow64_${name}
    COMMAND ${OBRIN_WINE_RUN} --win64 ${runner_args} $<TARGET_FILE:${name}> ${T_RUN_ARGS})
  set_tests_properties(wow64_${name} PROPERTIES TIMEOUT ${timeout} LABELS "wine;wow64"
    ENVIRONMENT "OBRIN_BIN_DIR=${OBRIN_BIN_DIR};OBRIN_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# obrin_native_test(NAME SOURCES ... [LIBS ...])
# A GoogleTest program built with the host compiler (sanitizers on in the native preset).
function(obrin_native_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(WIN32)
    obrin_build_stamp(${name})
    # The same tests once more as a Windows program: 16-bit wchar_t and msvcrt.
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OBRIN_TEST_DIR})
    add_test(NAME ${name} COMMAND ${OBRIN_WINE_RUN} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES LABELS wine TIMEOUT 300
      ENVIRONMENT "OBRIN_BIN_DIR=${OBRIN_BIN_DIR};OBRIN_BUILD_DIR=${CMAKE_BINARY_DIR}")
  else()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS native TIMEOUT 300)
  endif()
endfunction()

# obrin_fuzzer(NAME SOURCES ... [LIBS ...] [SECONDS n])
# A libFuzzer target (clang only). ctest runs it for a bounded time; ./dev fuzz runs longer.
function(obrin_fuzzer name)
  cmake_parse_arguments(F "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 20)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${F_SECONDS} -rss_limit_mb=2048)
  set_tests_properties(${name} PROPERTIES LABELS "native;fuzz" TIMEOUT 300)
  set_property(GLOBAL APPEND PROPERTY OBRIN_FUZZERS ${name})
endfunction()
