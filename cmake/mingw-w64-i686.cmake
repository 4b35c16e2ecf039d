# Cross toolchain: mingw-w64 for 32-bit Windows.
set(LOADWING_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
