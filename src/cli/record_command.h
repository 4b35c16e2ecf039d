#pragma once
#include <cstddef>
#include <ostream>
#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace loadwing::cli {

struct RecordOptions {
  std::size_t last = 0;  // 0: every entry
  bool json = false;
  std::string path;  // the record file; empty: the user's
};

// The options of `record [--last N] [--json]`.
void AddRecordOptions(CLI::App& command, RecordOptions& options);

// Shows the flash record, newest last: a table, or one JSON object. Lines that are no entry are
// skipped with a note on err.
[[nodiscard]] int RunRecord(const RecordOptions& options, std::ostream& out, std::ostream& err);

}  // namespace loadwing::cli
