# Windows with mingw-w64, from a Linux host; included by toolchain-mingw32.cmake (i686,
# the deliverable) and toolchain-mingw64.cmake (x86_64), which set KORVEL_MINGW_PREFIX.
#
# The -posix compilers are the ones whose libstdc++ has std::thread and std::mutex (the
# plain names are the win32-thread variant, which lacks them in gcc 12). Everything is
# linked statically so the programs and rendo.dll need only the system's own DLLs; Wine
# and a bare Windows have no libstdc++-6.dll or libwinpthread-1.dll to find.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KORVEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVEL_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${KORVEL_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# ctest runs the test programs through Wine in a prefix private to the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
