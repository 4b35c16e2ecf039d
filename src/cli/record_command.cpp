#include "cli/record_command.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>

#include "app/flash_record.h"
#include "cli/command_table.h"
#include "cli/exit_codes.h"
#include "cli/terminal_status_view.h"
#include "cli/terminal_text.h"

namespace loadwing::cli {

void AddRecordOptions(CLI::App& command, RecordOptions& options) {
  command.add_option("--last", options.last, "Only the last N transfers")
      ->check(WholeNumber(1, 1000000000));
  command.add_flag("--json", options.json, "Print one JSON object");
}

int RunRecord(const RecordOptions& options, std::ostream& out, std::ostream& err) {
  std::string error;
  const std::string path = options.path.empty() ? DefaultFlashRecordPath(error) : options.path;
  if (path.empty()) {
    Say(err, "no place for the flash record: " + error);
    return kExitOutputError;
  }
  FlashRecordContents contents = ReadFlashRecord(path);
  for (const std::string& note : contents.notes) Say(err, "note: " + note);
  auto& entries = contents.entries;
  if (options.last > 0 && entries.size() > options.last) {
    entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(options.last));
  }

  if (options.json) {
    nlohmann::ordered_json json = {{"file", path}, {"entries", nlohmann::ordered_json::array()}};
    for (const FlashRecordEntry& entry : entries) {
      json["entries"].push_back(nlohmann::ordered_json::parse(FlashRecordLine(entry)));
    }
    json["skipped"] = contents.notes.size();
    out << json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
    return kExitCompleted;
  }
  if (!contents.found) {
    out << "no transfers recorded yet (" << TerminalText(path) << ")" << std::endl;
    return kExitCompleted;
  }
  char line[512];
  std::snprintf(line, sizeof line, "%-20s  %-20s  %-12s  %-24s  %9s  %7s  %-12s  ", "time (UTC)",
                "target", "link", "outcome", "blocks", "seconds", "file sha256");
  out << line << "file\n";
  for (const FlashRecordEntry& e : entries) {
    const std::string blocks =
        std::to_string(e.blocksAcknowledged) + "/" + std::to_string(e.blocks);
    std::snprintf(line, sizeof line, "%-20s  %-20s  %-12s  %-24s  %9s  %7.1f  %-12s  ",
                  TerminalText(e.time).c_str(), TerminalText(e.target).c_str(),
                  TerminalText(e.link).c_str(), TerminalText(e.outcome).c_str(), blocks.c_str(),
                  e.querySeconds + e.blockSeconds + e.verdictSeconds,
                  TerminalText(e.fileSha256.substr(0, 12)).c_str());
    out << line << TerminalText(e.file) << '\n';
  }
  out.flush();
  return kExitCompleted;
}

}  // namespace loadwing::cli
