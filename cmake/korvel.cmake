# Shared build settings, carried by an interface target instead of global flags.
add_library(korvel_options INTERFACE)
target_compile_options(korvel_options INTERFACE
  -Wall -Wextra -Wpedantic -Wno-unused-parameter)
if(WIN32)
  # M_PI and friends: the mingw-w64 headers declare them only on request in strict C++.
  # windows.h without the COM headers (their ISynchronize and IID_IUnknown would clash with
  # the project's own) and without min/max macros; mmsystem.h is included where needed.
  target_compile_definitions(korvel_options INTERFACE _USE_MATH_DEFINES WIN32_LEAN_AND_MEAN NOMINMAX)
endif()

# Floating-point code whose results must be reproducible bit for bit (the transform,
# the analysis) links this as well: no fused multiply-add contraction.
add_library(korvel_exact_fp INTERFACE)
target_compile_options(korvel_exact_fp INTERFACE -ffp-contract=off)

# Windows builds run their test programs under Wine (scripts/wine-run, the toolchain's
# emulator) where this machine's Wine can run them (KORVEL_RUN_TESTS); otherwise the test
# programs are built, and only the checks that need no Wine are run. Under Wine the first
# test makes the build's private prefix and keeps its server running, the last one stops
# it; every test requires that fixture (KORVEL_TEST_FIXTURES, empty on Linux).
set(KORVEL_RUN_TESTS ON)
if(WIN32)
  option(KORVEL_WINDOWS_RUN_TESTS "Run the Windows test programs (under Wine when cross-compiling)" ON)
  set(KORVEL_RUN_TESTS ${KORVEL_WINDOWS_RUN_TESTS})
endif()
set(KORVEL_TEST_FIXTURES "")
if(CMAKE_CROSSCOMPILING AND WIN32 AND KORVEL_RUN_TESTS)
  set(KORVEL_TEST_FIXTURES korvel_wine)
  add_test(NAME windows_wine_start
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-run --start ${CMAKE_BINARY_DIR})
  add_test(NAME windows_wine_stop
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-run --stop ${CMAKE_BINARY_DIR})
  set_tests_properties(windows_wine_start PROPERTIES FIXTURES_SETUP korvel_wine TIMEOUT 300)
  set_tests_properties(windows_wine_stop PROPERTIES FIXTURES_CLEANUP korvel_wine)
endif()

# korvel_add_test(<name> SOURCES <files...> LIBS <targets...> [QT] [PRIVATE_SHM]
#                 [LABELS <l...>] [COMMAND <command...>])
# One GoogleTest executable (none without SOURCES); COMMAND runs instead of it (a script
# that may take $<TARGET_FILE:name>), and its exit status 77 is a skip; QT runs it on the
# offscreen platform. PRIVATE_SHM runs it in a mount namespace with its own empty /dev/shm
# (testing/private-shm-run), for tests that use the mailbox's real names; it is skipped
# where no such namespace can be made.
# Every test gets private HOME / XDG folders so none touches the user's settings, and links
# the shared test support (testing/).
function(korvel_add_test name)
  cmake_parse_arguments(T "QT;PRIVATE_SHM" "" "SOURCES;LIBS;LABELS;COMMAND" ${ARGN})
  if(T_SOURCES)
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} korvel_options korvel_testing GTest::gtest GTest::gmock GTest::gtest_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  endif()
  if(NOT KORVEL_RUN_TESTS)
    return()
  endif()
  set(command $<TARGET_FILE:${name}>)
  if(T_COMMAND)
    set(command ${T_COMMAND})
  endif()
  set(env "KORVEL_TEST_ROOT=${CMAKE_BINARY_DIR}/test-home/${name}"
          "HOME=${CMAKE_BINARY_DIR}/test-home/${name}"
          "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/${name}/config"
          "XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/test-home/${name}/run")
  if(T_QT)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(T_PRIVATE_SHM)
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/testing/private-shm-run ${command})
  elseif(T_COMMAND)
    add_test(NAME ${name} COMMAND ${command})
  else()
    # By target name, so a cross build runs it through CMAKE_CROSSCOMPILING_EMULATOR.
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(T_PRIVATE_SHM OR T_COMMAND)
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 600
    FIXTURES_REQUIRED "${KORVEL_TEST_FIXTURES}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-home/${name}/config ${CMAKE_BINARY_DIR}/test-home/${name}/run)
  file(CHMOD ${CMAKE_BINARY_DIR}/test-home/${name}/run DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endfunction()

# korvel_add_benchmark(<name> SOURCES <files...> LIBS <targets...>)
function(korvel_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} korvel_options benchmark::benchmark)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
