#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/flash_session.h"
#include "flash/loopback_test.h"

namespace loadwing::cli {

struct SelftestOptions {
  std::string port;  // a serial port; empty with usb
  bool usb = false;
  bool json = false;
};

// The exit code of a loopback verdict.
ExitCode ExitCodeFor(LoopbackVerdict verdict);
// A short machine-readable name: "carries", "nothing-back", "bytes-lost", ...
const char* LoopbackVerdictName(LoopbackVerdict verdict);
// The verdict for a technician, first line first: what the adapter does, or what is wrong and
// what to try. label names the link ("/dev/ttyUSB0", "USB cable").
std::vector<std::string> LoopbackVerdictText(const LoopbackReport& report,
                                             const std::string& label);

// Opens the link as a transfer does and checks it through a loopback plug. Never sends anything
// that could start a transfer.
int RunSelftest(const SelftestOptions& options, std::ostream& out, std::ostream& err);

}  // namespace loadwing::cli
