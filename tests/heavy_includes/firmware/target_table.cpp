// clang-format off
  #  include <toml++/toml.h>
