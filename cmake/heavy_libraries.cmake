# The files of src/ that may include each heavy library, and the include prefix that names it.
# Every other file sees our own declarations only, so that each library is compiled in as few
# files as possible (cmake/check_heavy_includes.cmake holds src/ to this).
set(LOADWING_HEAVY_LIBRARIES cli11 tomlplusplus nlohmann_json openssl)

set(LOADWING_HEAVY_cli11_PREFIX "CLI/")
# The commands and loadwing-sim declare their options through command_table.h.
set(LOADWING_HEAVY_cli11_FILES cli/command_table.cpp)

set(LOADWING_HEAVY_tomlplusplus_PREFIX "toml++/")
# The set reader walks the parsed text there; update_set.cpp sees update_set_toml.h only.
set(LOADWING_HEAVY_tomlplusplus_FILES cli/update_set_toml.cpp)

# nlohmann/json_fwd.hpp only declares and may go anywhere.
set(LOADWING_HEAVY_nlohmann_json_PREFIX "nlohmann/")
set(LOADWING_HEAVY_nlohmann_json_LIGHT "nlohmann/json_fwd.hpp")
# core/json.cpp writes and reads every JSON line, the record's and the command line's.
set(LOADWING_HEAVY_nlohmann_json_FILES core/json.cpp)

set(LOADWING_HEAVY_openssl_PREFIX "openssl/")
set(LOADWING_HEAVY_openssl_FILES core/sha256_posix.cpp)
