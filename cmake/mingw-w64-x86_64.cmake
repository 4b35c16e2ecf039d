# Cross toolchain: mingw-w64 for 64-bit Windows.
set(LOADWING_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
