#pragma once
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command_table.h"
#include "record/flash_record.h"

namespace loadwing::cli {

struct RecordOptions {
  std::size_t last = 0;  // 0: every transfer
  bool json = false;
  bool csv = false;
  std::string machine;  // only transfers into this machine; empty: all
};

// The options of `record [--last N] [--machine ID] [--json | --csv]`.
void AddRecordOptions(Options command, RecordOptions& options);

// Shows the record at path (the user's when empty), newest last: a table, one JSON object, or
// CSV. A start that no outcome followed shows as "did not finish". Lines that are no entry are
// skipped with a note on err; a record that is there but cannot be read is an error.
[[nodiscard]] int RunRecord(const RecordOptions& options, std::ostream& out, std::ostream& err,
                            const std::string& path = {});

// The transfers as CSV (RFC 4180, CRLF line ends), a header line first.
[[nodiscard]] std::string RecordCsv(const std::vector<FlashRecordEntry>& transfers);

}  // namespace loadwing::cli
