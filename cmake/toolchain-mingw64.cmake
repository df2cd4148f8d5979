# Cross build of the 64-bit Windows DLL, for 64-bit VBA hosts.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ONDRIX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
