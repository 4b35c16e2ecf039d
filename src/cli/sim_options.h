#pragma once
#include <vector>

#include "cli/cli_platform.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace loadwing::cli {

// Adds the --sim-... options of the simulated machine to a command that takes --port sim; the
// options come back so that the caller can refuse them without --port sim.
std::vector<CLI::Option*> AddSimOptions(CLI::App& command, SimOptions& sim, double& clockScale);

}  // namespace loadwing::cli
