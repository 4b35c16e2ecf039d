#include "cli/sim_options.h"

#include <CLI/CLI.hpp>

namespace loadwing::cli {

std::vector<CLI::Option*> AddSimOptions(CLI::App& command, SimOptions& sim, double& clockScale) {
  const auto group = "Simulated machine (with --port sim)";
  std::vector<CLI::Option*> options;
  options.push_back(command.add_option("--sim-baud", sim.baud, "Pace the line at this baud rate")
                        ->check(CLI::Range(1u, 4000000u)));
  options.push_back(command
                        .add_option("--sim-clock-scale", clockScale,
                                    "Let the time limits pass this many times faster")
                        ->check(CLI::Range(1.0, 1000.0)));
  options.push_back(command.add_flag("--sim-silent", sim.silent, "Never answer the request"));
  options.push_back(command.add_flag("--sim-erase-error", sim.eraseError,
                                     "Answer the request with an erase error"));
  options.push_back(command.add_option("--sim-unexpected", sim.unexpected,
                                       "Answer every request with this text"));
  options.push_back(command.add_option("--sim-refuse-block", sim.refuseBlock,
                                       "Refuse block K (0-based) with '0'"));
  options.push_back(command.add_option("--sim-silent-block", sim.silentBlock,
                                       "Leave block K (0-based) unacknowledged"));
  options.push_back(command.add_option("--sim-verdict", sim.verdict,
                                       "Answer the check byte with this text (e.g. CSFAIL)"));
  options.push_back(
      command.add_flag("--sim-silent-verdict", sim.silentVerdict, "Never answer the check byte"));
  for (CLI::Option* option : options) option->group(group);
  return options;
}

}  // namespace loadwing::cli
