#pragma once
#include <filesystem>
#include <string>

#include "cli/update_set.h"

namespace loadwing::cli {

// Reads a set file's TOML text into set: its machine and its [[firmware]] entries (file names
// taken relative to base), or what is wrong with it. ascii must already have passed
// TomlTextProblem. The one place that sees the TOML parser.
void ReadSetToml(const std::string& ascii, const std::string& where,
                 const std::filesystem::path& base, UpdateSet& set);

}  // namespace loadwing::cli
