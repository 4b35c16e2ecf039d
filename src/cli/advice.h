#pragma once
#include <string>
#include <vector>

#include "cli/firmware_report.h"
#include "flash/flash_transfer.h"

namespace loadwing::cli {

// What was found in a firmware file that did not load, and what to do about it, in one line
// (the status text stays as the loader set it); empty when nothing more can be said.
std::string LoadFailureAdvice(const TransferPlan& report);

// What a transfer that ended with outcome at position left in the controller, and what to do
// next: one line per entry, the first saying where it stopped; none for a completed transfer.
std::vector<std::string> TransferAdvice(FlashOutcome outcome, const FlashPosition& position,
                                        const TransferPlan& report);

}  // namespace loadwing::cli
