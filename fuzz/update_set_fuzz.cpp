// The update set reader on arbitrary set-file text: toml++ must never see bytes it mishandles,
// and no text yields more entries than a machine has controllers, or entries beside problems
// about the text itself.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/update_set.h"

using namespace loadwing::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const UpdateSet set = ReadUpdateSetText(text, "/fuzz/set.toml");
  const bool refusedText = TomlTextProblem(text).has_value();
  if (set.items.size() > kMaxSetEntries) std::abort();
  if (refusedText && (!set.items.empty() || set.problems.size() != 1)) std::abort();
  for (const UpdateItem& item : set.items) {
    if (item.file.empty() || item.report) std::abort();
    if (!item.sha256.empty() && item.sha256.size() != 64) std::abort();
  }
  return 0;
}
