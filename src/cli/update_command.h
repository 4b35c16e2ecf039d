#pragma once
#include <ostream>
#include <string>

#include "cli/command_table.h"
#include "cli/flash_session.h"

namespace loadwing::cli {

struct UpdateOptions {
  std::string set;  // a folder of firmware files, or a TOML file listing them
  LinkOptions link;
  bool keepGoing = false;
  bool json = false;
  bool strict = false;
  std::string machine;       // the serial number on the machine's plate, for the record
  bool progressBar = false;  // set by main: err is a terminal
};

// The options of `update SET (--port PORT | --usb) [--keep-going] [--json] [--strict]`, with the
// simulated machine's, and the set-file format in its help; checked when the line is parsed.
void AddUpdateOptions(Options command, UpdateOptions& options);

// Checks the whole set before anything is sent (exit 2 listing every problem), then flashes each
// controller in turn over one link. The first failure stops the set unless keepGoing; the exit
// code is that of the first failure.
[[nodiscard]] int RunUpdate(const UpdateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace loadwing::cli
