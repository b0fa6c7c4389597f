# GoogleTest built from its source with the project's own (cross) toolchain: the
# distribution's libgtest is for the build machine only. The googletest package installs
# the source at /usr/src/googletest.
set(KORVEL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source folder")
if(NOT EXISTS ${KORVEL_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest source at ${KORVEL_GOOGLETEST_SOURCE} (package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# Its targets come with the GTest:: names find_package(GTest) gives.
add_subdirectory(${KORVEL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
