# Builds that do not depend on where or when they were made: the same commit gives the same
# bytes in any checkout (tools/release.sh builds twice and compares).

# No checkout or build path in the objects (__FILE__, debug information).
add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=" "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=")

if(WIN32)
  # The PE header's link time would otherwise differ at every link.
  add_link_options(-Wl,--no-insert-timestamp)
endif()
