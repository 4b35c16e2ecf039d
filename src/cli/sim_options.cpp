#include "cli/sim_options.h"

#include <initializer_list>
#include <vector>

#include "cli/flash_session.h"

namespace loadwing::cli {

namespace {

// Each answer the simulated machine gives can be set one way only.
void Exclusive(std::initializer_list<Option> options) {
  for (auto a = options.begin(); a != options.end(); ++a) {
    for (auto b = a + 1; b != options.end(); ++b) Option(*a).Excludes(*b);
  }
}

}  // namespace

void AddLinkOptions(Options command, std::string& port, bool& usb, SimOptions& sim,
                    double& clockScale, const std::string& portHelp, const std::string& usbHelp) {
  command.Add("-p,--port", port, portHelp)
      .Check(NotEmpty("a port name"))
      .Excludes(command.Flag("--usb", usb, usbHelp));

  const auto group = "Simulated machine (with --port sim)";
  Option baud = command.Add("--sim-baud", sim.baud, "Pace the line at this baud rate")
                    .Check(WholeNumber(1, 4000000));
  Option scale =
      command
          .Add("--sim-clock-scale", clockScale, "Let the time limits pass this many times faster")
          .Check(NumberBetween(1, 1000));
  Option silent = command.Flag("--sim-silent", sim.silent, "Never answer the request");
  Option eraseError =
      command.Flag("--sim-erase-error", sim.eraseError, "Answer the request with an erase error");
  Option unexpected =
      command.Add("--sim-unexpected", sim.unexpected, "Answer every request with this text");
  Option refuseBlock =
      command.Add("--sim-refuse-block", sim.refuseBlock, "Refuse block K (0-based) with '0'")
          .Check(WholeNumber(0, 65535));
  Option silentBlock =
      command.Add("--sim-silent-block", sim.silentBlock, "Leave block K (0-based) unacknowledged")
          .Check(WholeNumber(0, 65535));
  Option verdict = command.Add("--sim-verdict", sim.verdict,
                               "Answer the check byte with this text (e.g. CSFAIL)");
  Option silentVerdict =
      command.Flag("--sim-silent-verdict", sim.silentVerdict, "Never answer the check byte");
  const std::vector<Option> simOptions = {baud,        scale,      silent,
                                          eraseError,  unexpected, refuseBlock,
                                          silentBlock, verdict,    silentVerdict};
  for (Option option : simOptions) option.Group(group);
  Exclusive({silent, eraseError, unexpected});  // the answer to the request
  Exclusive({refuseBlock, silentBlock});        // the block answered otherwise
  Exclusive({verdict, silentVerdict});          // the verdict

  command.AfterParse([name = command.Name(), &port, &usb, simOptions]() -> std::string {
    if (!usb && port.empty()) return name + ": give the machine's link: --port PORT, or --usb";
    for (const Option& option : simOptions) {
      if (option.Given() && port != kSimPort) return option.Name() + ": only with --port sim";
    }
    return "";
  });
}

}  // namespace loadwing::cli
