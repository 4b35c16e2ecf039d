#include "cli/sim_options.h"

#include <CLI/CLI.hpp>

#include <initializer_list>
#include <vector>

#include "cli/command_table.h"
#include "cli/flash_session.h"

namespace loadwing::cli {

namespace {

// Each answer the simulated machine gives can be set one way only.
void Exclusive(std::initializer_list<CLI::Option*> options) {
  for (CLI::Option* a : options) {
    for (CLI::Option* b : options) {
      if (a != b) a->excludes(b);
    }
  }
}

}  // namespace

void AddLinkOptions(CLI::App& command, std::string& port, bool& usb, SimOptions& sim,
                    double& clockScale, const std::string& portHelp, const std::string& usbHelp) {
  CLI::Option* portOption =
      command.add_option("-p,--port", port, portHelp)->check(NotEmpty("a port name"));
  CLI::Option* usbOption = command.add_flag("--usb", usb, usbHelp);
  portOption->excludes(usbOption);

  const auto group = "Simulated machine (with --port sim)";
  CLI::Option* baud = command.add_option("--sim-baud", sim.baud, "Pace the line at this baud rate")
                          ->check(WholeNumber(1, 4000000));
  CLI::Option* scale = command
                           .add_option("--sim-clock-scale", clockScale,
                                       "Let the time limits pass this many times faster")
                           ->check(NumberBetween(1, 1000));
  CLI::Option* silent = command.add_flag("--sim-silent", sim.silent, "Never answer the request");
  CLI::Option* eraseError = command.add_flag("--sim-erase-error", sim.eraseError,
                                             "Answer the request with an erase error");
  CLI::Option* unexpected =
      command.add_option("--sim-unexpected", sim.unexpected, "Answer every request with this text");
  CLI::Option* refuseBlock =
      command
          .add_option("--sim-refuse-block", sim.refuseBlock, "Refuse block K (0-based) with '0'")
          ->check(WholeNumber(0, 65535));
  CLI::Option* silentBlock = command
                                 .add_option("--sim-silent-block", sim.silentBlock,
                                             "Leave block K (0-based) unacknowledged")
                                 ->check(WholeNumber(0, 65535));
  CLI::Option* verdict = command.add_option("--sim-verdict", sim.verdict,
                                            "Answer the check byte with this text (e.g. CSFAIL)");
  CLI::Option* silentVerdict =
      command.add_flag("--sim-silent-verdict", sim.silentVerdict, "Never answer the check byte");
  const std::vector<CLI::Option*> simOptions = {baud,        scale,      silent,
                                                eraseError,  unexpected, refuseBlock,
                                                silentBlock, verdict,    silentVerdict};
  for (CLI::Option* option : simOptions) option->group(group);
  Exclusive({silent, eraseError, unexpected});  // the answer to the request
  Exclusive({refuseBlock, silentBlock});        // the block answered otherwise
  Exclusive({verdict, silentVerdict});          // the verdict

  const std::string name = command.get_name();
  // After the whole line is parsed, so that a misspelt option is named first.
  command.callback([name, &port, &usb, simOptions] {
    if (!usb && port.empty()) {
      throw CLI::ValidationError(name, "give the machine's link: --port PORT, or --usb");
    }
    for (CLI::Option* option : simOptions) {
      if (option->count() > 0 && port != kSimPort) {
        throw CLI::ValidationError(option->get_name(), "only with --port sim");
      }
    }
  });
}

}  // namespace loadwing::cli
