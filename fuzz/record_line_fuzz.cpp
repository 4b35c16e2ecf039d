// The flash record's line reader on arbitrary lines: an entry read back is written out and read
// again unchanged, so that a record never changes when it is repaired or rotated.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "record/flash_record.h"

using namespace loadwing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::optional<FlashRecordEntry> entry = ParseFlashRecordLine(line);
  if (!entry) return 0;
  const std::string written = FlashRecordLine(*entry);
  if (written.find('\n') != std::string::npos) std::abort();
  const std::optional<FlashRecordEntry> again = ParseFlashRecordLine(written);
  if (!again || FlashRecordLine(*again) != written) std::abort();
  return 0;
}
