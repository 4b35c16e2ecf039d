#pragma once
#include <functional>
#include <string>
#include <vector>

#include "record/flash_record.h"

namespace loadwing::testing {

// Keeps the entries appended, or refuses them all when fail is set.
class FakeFlashRecord final : public FlashRecord {
 public:
  bool Append(const FlashRecordEntry& entry, std::string& error) override {
    ++appends;
    if (onAppend) onAppend(entry);
    if (fail) {
      error = "disk full";
      return false;
    }
    entries.push_back(entry);
    return true;
  }

  bool fail = false;
  std::function<void(const FlashRecordEntry&)> onAppend;  // sees each entry as it comes
  int appends = 0;
  std::vector<FlashRecordEntry> entries;
};

// The real record files, but waiting for the lock costs no time: the pauses are only added up.
class CountingRecordFiles final : public RecordFiles {
 public:
  void Pause(int milliseconds) override { pausedMs += milliseconds; }
  int pausedMs = 0;
};

}  // namespace loadwing::testing
