#include "cli/record_command.h"

#include <charconv>
#include <cstdio>

#include "cli/command_table.h"
#include "cli/exit_codes.h"
#include "cli/terminal_status_view.h"
#include "cli/terminal_text.h"
#include "core/json.h"

namespace loadwing::cli {

namespace {

// A field as RFC 4180 wants it. A text a spreadsheet would take for a formula (a file named
// "=HYPERLINK(...)", say) gets a leading apostrophe, so that opening the record runs nothing.
std::string CsvField(const std::string& text) {
  std::string value = text;
  if (!value.empty() && std::string_view("=+-@\t\r").find(value[0]) != std::string_view::npos) {
    value.insert(value.begin(), '\'');
  }
  if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
  std::string quoted = "\"";
  for (const char c : value) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

const char* TableOutcome(const std::string& outcome) {
  return outcome == kDidNotFinishOutcome ? "did not finish" : outcome.c_str();
}

}  // namespace

void AddRecordOptions(Options command, RecordOptions& options) {
  command.Add("--last", options.last, "Only the last N transfers")
      .Check(WholeNumber(1, 1000000000));
  command.Add("--machine", options.machine,
              "Only transfers into this machine (the serial number on its plate)");
  command.Flag("--json", options.json, "Print one JSON object")
      .Excludes(
          command.Flag("--csv", options.csv, "Print CSV for a spreadsheet, a header line first"));
}

std::string RecordCsv(const std::vector<FlashRecordEntry>& transfers) {
  std::string text =
      "schema,time,program,version,machine,link,file,fileSha256,sentSha256,target,bytes,blocks,"
      "blocksAcknowledged,outcome,status,verdict,querySeconds,blockSeconds,verdictSeconds\r\n";
  for (const FlashRecordEntry& e : transfers) {
    for (const std::string& field :
         {std::to_string(e.schema), CsvField(e.time), CsvField(e.program), CsvField(e.version),
          CsvField(e.machine), CsvField(e.link), CsvField(e.file), CsvField(e.fileSha256),
          CsvField(e.sentSha256), CsvField(e.target), std::to_string(e.bytes),
          std::to_string(e.blocks), std::to_string(e.blocksAcknowledged), CsvField(e.outcome),
          CsvField(e.status), CsvField(e.verdict), Seconds(e.querySeconds),
          Seconds(e.blockSeconds)}) {
      text += field;
      text += ',';
    }
    text += Seconds(e.verdictSeconds) + "\r\n";
  }
  return text;
}

int RunRecord(const RecordOptions& options, std::ostream& out, std::ostream& err,
              const std::string& recordPath) {
  std::string error;
  const std::string path = recordPath.empty() ? DefaultFlashRecordPath(error) : recordPath;
  if (path.empty()) {
    Say(err, "no place for the flash record: " + error);
    return kExitNoRecord;
  }
  const FlashRecordContents contents = ReadFlashRecord(path);
  for (const std::string& note : contents.notes) {
    Say(err, "note: " + note);
  }
  if (!contents.error.empty()) {
    Say(err, "cannot read the flash record: " + contents.error);
    return kExitNoRecord;
  }
  std::vector<FlashRecordEntry> transfers = RecordedTransfers(contents.entries);
  if (!options.machine.empty()) {
    std::erase_if(transfers,
                  [&](const FlashRecordEntry& e) { return e.machine != options.machine; });
  }
  if (options.last > 0 && transfers.size() > options.last) {
    transfers.erase(transfers.begin(), transfers.end() - static_cast<std::ptrdiff_t>(options.last));
  }

  if (options.json) {
    JsonArray entries;
    for (const FlashRecordEntry& entry : transfers) entries.AddRaw(FlashRecordLine(entry));
    out << JsonObject()
               .Add("file", path)
               .AddRaw("entries", entries.str())
               .Add("skipped", static_cast<std::int64_t>(contents.skipped))
               .str()
        << std::endl;
    return kExitCompleted;
  }
  if (options.csv) {
    out << RecordCsv(transfers) << std::flush;
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
  for (const FlashRecordEntry& e : transfers) {
    const std::string blocks =
        std::to_string(e.blocksAcknowledged) + "/" + std::to_string(e.blocks);
    std::snprintf(line, sizeof line, "%-20s  %-20s  %-12s  %-24s  %9s  %7.1f  %-12s  ",
                  TerminalText(e.time).c_str(), TerminalText(e.target).c_str(),
                  TerminalText(e.link).c_str(), TableOutcome(TerminalText(e.outcome)),
                  blocks.c_str(), e.querySeconds + e.blockSeconds + e.verdictSeconds,
                  TerminalText(e.fileSha256.substr(0, 12)).c_str());
    out << line << TerminalText(e.file) << '\n';
  }
  out.flush();
  return kExitCompleted;
}

}  // namespace loadwing::cli
