# Fails when a file under SOURCE_DIR includes a heavy library (cmake/heavy_libraries.cmake) and is
# not one of the files allowed to.
# Usage: cmake -DSOURCE_DIR=<src> -P check_heavy_includes.cmake
cmake_minimum_required(VERSION 3.25)
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)
include(${CMAKE_CURRENT_LIST_DIR}/heavy_libraries.cmake)

if(NOT IS_DIRECTORY "${SOURCE_DIR}")
  message(FATAL_ERROR "check_heavy_includes: no folder ${SOURCE_DIR}")
endif()
file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.hpp"
     "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.cc" "${SOURCE_DIR}/*.c" "${SOURCE_DIR}/*.rc")
list(SORT files)
set(faults "")
foreach(file IN LISTS files)
  # <...> and "..." alike, however spaced.
  file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^<\"]*[<\"]([^>\"]*)[>\"].*$" "\\1" header "${line}")
    foreach(library IN LISTS LOADWING_HEAVY_LIBRARIES)
      string(FIND "${header}" "${LOADWING_HEAVY_${library}_PREFIX}" at)
      if(NOT at EQUAL 0 OR header IN_LIST LOADWING_HEAVY_${library}_LIGHT)
        continue()
      endif()
      if(NOT file IN_LIST LOADWING_HEAVY_${library}_FILES)
        list(JOIN LOADWING_HEAVY_${library}_FILES ", " allowed)
        list(APPEND faults "${file}: includes <${header}>, but only these may: ${allowed}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "check_heavy_includes: a heavy library is included outside its files "
                      "(cmake/heavy_libraries.cmake):\n  ${text}")
endif()
list(LENGTH files checked)
message(STATUS "check_heavy_includes: ${checked} files, heavy libraries only where allowed")
