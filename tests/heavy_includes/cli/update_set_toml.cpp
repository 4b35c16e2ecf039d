#include <toml++/toml.h>
#include "nlohmann/json_fwd.hpp"
