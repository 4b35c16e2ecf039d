#pragma once
#include "flash/flash_transfer.h"
#include "link/link_connect.h"

namespace loadwing::cli {

// The process exit codes of the command line: the only place they are defined. docs/cli.md lists
// the same table for users and scripts.
enum ExitCode : int {
  kExitCompleted = 0,         // the machine answered SUCCES / the command did its work
  kExitUsage = 1,             // bad arguments or options
  kExitBadFirmware = 2,       // the firmware file did not load (its status text says why)
  kExitNoLink = 3,            // no link to the machine could be opened
  kExitNoAnswer = 4,          // the machine never answered the target request
  kExitUnexpectedAnswer = 5,  // the machine answered the request with something else
  kExitEraseError = 6,        // the machine reported an erase error
  kExitBlockFailed = 7,       // a block was refused or not acknowledged
  kExitCheckFailed = 8,       // the machine's check of the data failed (CSFAIL)
  kExitNoSuccess = 9,         // any other verdict, or none within the time limit
  kExitWriteError = 10,       // the link refused to send
  kExitOutputError = 11,      // an output file could not be written
  kExitLoopbackSilent = 12,   // selftest: nothing came back through the loopback plug
  kExitLoopbackDamaged = 13,  // selftest: bytes came back lost, changed or out of order
  kExitLoopbackSlow = 14,     // selftest: the adapter delivers far too late
  kExitNoRecord = 15,         // the flash record is there but cannot be read
  kExitInterrupted = 130,     // stopped by Ctrl-C or a termination signal
};

// The exit code a transfer's outcome leads to.
[[nodiscard]] ExitCode ExitCodeFor(FlashOutcome outcome);
// The exit code a link failure leads to.
[[nodiscard]] ExitCode ExitCodeFor(LinkError error);

}  // namespace loadwing::cli
