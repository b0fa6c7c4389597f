# 64-bit Windows (x86_64): the same sources, for running the Windows tests under a Wine
# that has no 32-bit side (a host without 32-bit user code).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KORVEL_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
