// toml++'s compiled part, built once here: update_set.cpp and any other user see its declarations
// only (TOML_HEADER_ONLY=0 on the loadwing_tomlplusplus target).
#define TOML_IMPLEMENTATION
#include <toml++/toml.h>
