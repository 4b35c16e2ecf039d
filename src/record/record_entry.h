#pragma once
#include <cstdint>
#include <string>

#include "record/flash_record.h"
#include "flash/transfer_plan.h"

namespace loadwing {

// Who starts a transfer, over which link and at what time: as the record shows them.
struct RecordStart {
  std::string program;
  std::string link;     // taken when the transfer starts, not after it
  std::string machine;  // the serial number on the machine's plate; empty: not given
  std::int64_t utcSeconds = 0;
};

// The record entry of a transfer of plan, as it starts: the firmware's description and both
// fingerprints come from the plan's one read, the outcome is "started".
FlashRecordEntry RecordEntryFromPlan(const TransferPlan& plan, const RecordStart& start);

}  // namespace loadwing
