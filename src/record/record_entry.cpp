#include "record/record_entry.h"

#include "firmware/firmware_target_names.h"

namespace loadwing {

FlashRecordEntry RecordEntryFromPlan(const TransferPlan& plan, const RecordStart& start) {
  FlashRecordEntry entry;
  entry.time = UtcTimeText(start.utcSeconds);
  entry.program = start.program;
  entry.version = LOADWING_VERSION;
  entry.link = start.link;
  entry.machine = start.machine;
  entry.file = plan.path;
  entry.fileSha256 = plan.fileSha256;
  entry.sentSha256 = plan.sentSha256;
  entry.target = TargetName(plan.outcome.target);
  entry.bytes = plan.imageSize;
  entry.blocks = plan.blocks;
  entry.outcome = kStartedOutcome;
  return entry;
}

}  // namespace loadwing
