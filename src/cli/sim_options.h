#pragma once
#include <string>

#include "cli/cli_platform.h"
#include "cli/command_table.h"

namespace loadwing::cli {

// Adds how a command reaches the machine: -p/--port or --usb (one of them required), and the
// --sim-... options of the simulated machine, refused without --port sim. The checks run when
// the command line is parsed; the help texts of --port and --usb are the command's own.
void AddLinkOptions(Options command, std::string& port, bool& usb, SimOptions& sim,
                    double& clockScale, const std::string& portHelp, const std::string& usbHelp);

}  // namespace loadwing::cli
