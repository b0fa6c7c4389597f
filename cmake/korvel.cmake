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

# The one check for the SIMD kernels of the pixel engine and the transform: x86 only.
# KORVEL_SIMD_LEVELS lists the instruction-set levels above the reference that get built,
# each in its own object library with its own -m flags (korvel_add_simd_objects); the rest
# of a library stays on the baseline CPU. korvel_levels defines KORVEL_HAVE_<level> for
# each, for every target that links it.
set(KORVEL_SIMD_LEVELS)
if(KORVEL_SIMD AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86)$")
  set(KORVEL_SIMD_LEVELS SSE2 AVX2)
endif()
set(KORVEL_LEVEL_FLAGS_SSE2 -msse2)
set(KORVEL_LEVEL_FLAGS_AVX2 -mavx2)

# korvel_add_simd_objects(<target> <level> <sources...>): compiles the sources of one level
# with its flags into <target>_<level> and adds the objects to <target>, whose other
# compile settings (include folders, options) the caller gives the object library too.
function(korvel_add_simd_objects target level)
  string(TOLOWER ${level} lower)
  add_library(${target}_${lower} OBJECT ${ARGN})
  target_compile_options(${target}_${lower} PRIVATE ${KORVEL_LEVEL_FLAGS_${level}})
  target_link_libraries(${target}_${lower} PRIVATE korvel_levels korvel_options)
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_${lower}>)
endfunction()

# korvel_add_level_runs(<test> [args...]): runs <test> once more per kernel level (Ref
# and each built SIMD level), with KORVEL_KERNEL_LEVEL capping the dispatchers there, so
# every level meets the same expectations. A run whose level this machine lacks exits
# 77 (skipped, and says so) instead of passing at a lower level.
# On Windows the cap goes through the test's environment and the run goes through Wine.
function(korvel_add_level_runs test)
  if(NOT KORVEL_RUN_TESTS)
    return()
  endif()
  foreach(level Ref SSE2 AVX2)
    if(WIN32)
      add_test(NAME ${test}_${level} COMMAND ${test} ${ARGN})
      set_tests_properties(${test}_${level} PROPERTIES
        ENVIRONMENT "KORVEL_KERNEL_LEVEL=${level};KORVEL_TEST_ROOT=${CMAKE_BINARY_DIR}/test-home/${test}"
        FIXTURES_REQUIRED "${KORVEL_TEST_FIXTURES}" TIMEOUT 600)
    else()
      add_test(NAME ${test}_${level} COMMAND korvel_level_run ${level} $<TARGET_FILE:${test}> ${ARGN})
      set_tests_properties(${test}_${level} PROPERTIES
        ENVIRONMENT "KORVEL_TEST_ROOT=${CMAKE_BINARY_DIR}/test-home/${test}"
        SKIP_RETURN_CODE 77 TIMEOUT 600)
    endif()
  endforeach()
endfunction()

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
#                 [LABELS <l...>] [PROGRAMS <MACRO=target...>] [COMMAND <command...>])
# One GoogleTest executable (none without SOURCES); PROGRAMS builds each target first and
# gives the test its path as the string macro MACRO; COMMAND runs instead of it (a script
# that may take $<TARGET_FILE:name>), and its exit status 77 is a skip; QT runs it on the
# offscreen platform. PRIVATE_SHM runs it in a mount namespace with its own empty /dev/shm
# (testing/private-shm-run), for tests that use the mailbox's real names; it is skipped
# where no such namespace can be made.
# Every test gets private HOME / XDG folders so none touches the user's settings, and links
# the shared test support (testing/).
function(korvel_add_test name)
  cmake_parse_arguments(T "QT;PRIVATE_SHM" "" "SOURCES;LIBS;LABELS;PROGRAMS;COMMAND" ${ARGN})
  if(T_SOURCES)
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} korvel_options korvel_testing GTest::gtest GTest::gmock GTest::gtest_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    foreach(program ${T_PROGRAMS})
      string(REPLACE "=" ";" pair ${program})
      list(GET pair 0 macro)
      list(GET pair 1 target)
      target_compile_definitions(${name} PRIVATE "${macro}=\"$<TARGET_FILE:${target}>\"")
      add_dependencies(${name} ${target})
    endforeach()
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

# korvel_check_toolkit_free(<target>)
# The toolkit-free layers (the analysis, the settings store, the window behaviour) must
# build for any front end: fails the configuration when anything the target links,
# directly or through other targets, is a Qt target, which is what brings Qt's include
# paths and defines. Checked once every target is defined.
function(korvel_check_toolkit_free target)
  # A deferred call expands its arguments when it runs: pass the name as a literal.
  cmake_language(EVAL CODE
    "cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]] CALL _korvel_check_toolkit_free [[${target}]])")
endfunction()

function(_korvel_check_toolkit_free target)
  set(seen "")
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue item)
    if(item MATCHES "^\\$<LINK_ONLY:(.*)>$")
      set(item ${CMAKE_MATCH_1})
    endif()
    if(item IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${item})
    if(item MATCHES "^Qt[0-9]*::")
      message(FATAL_ERROR "${target} must build without a toolkit, but links ${item}")
    endif()
    if(TARGET ${item})
      get_target_property(imported ${item} IMPORTED)
      if(NOT imported)
        get_target_property(direct ${item} LINK_LIBRARIES)
        if(direct)
          list(APPEND queue ${direct})
        endif()
      endif()
      get_target_property(usage ${item} INTERFACE_LINK_LIBRARIES)
      if(usage)
        list(APPEND queue ${usage})
      endif()
    endif()
  endwhile()
endfunction()
