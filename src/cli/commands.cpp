#include "cli/commands.h"

#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "cli/advice.h"
#include "cli/exit_codes.h"
#include "cli/firmware_report.h"
#include "cli/flash_session.h"
#include "cli/json.h"
#include "cli/output_file.h"
#include "cli/terminal_status_view.h"
#include "cli/terminal_text.h"
#include "core/sha256.h"
#include "flash/flash_transfer.h"

namespace loadwing::cli {

namespace {

void WarnAboutAddressRecords(const FirmwareReport& report, std::ostream& err) {
  if (auto warning = AddressRecordWarning(report)) Say(err, *warning);
}

void AdviseOnLoadFailure(const FirmwareReport& report, std::ostream& err) {
  const std::string advice = LoadFailureAdvice(report);
  if (!advice.empty()) Say(err, advice);
}

// What stands against flashing report, joined; nothing when all is well. Bytes the transfer
// would leave out are a warning, or with strict a problem.
std::optional<std::string> FirmwareRefusal(const FirmwareReport& report,
                                           const std::string& expectedSha256, bool strict,
                                           const std::function<void(const std::string&)>& warn) {
  if (!strict) {
    if (auto warning = BytesBeyondWarning(report)) warn(*warning);
  }
  const std::vector<std::string> problems = FirmwareProblems(report, expectedSha256, strict);
  if (problems.empty()) return std::nullopt;
  std::string text;
  for (const std::string& problem : problems) text += (text.empty() ? "" : "; ") + problem;
  return text;
}

// Everything flash says besides the status lines: on err as text, or as JSON events on out, so
// that with --json err stays quiet.
class FlashReporter {
 public:
  FlashReporter(const FlashOptions& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err) {}

  void Event(const char* kind, const std::string& text) {
    if (options_.json) {
      out_ << JsonObject().Add("event", kind).Add("text", text).str() << std::endl;
    } else {
      // Indented lines continue a list that the line before them began.
      if (text.rfind("  ", 0) == 0) {
        err_ << TerminalText(text) << std::endl;
      } else {
        Say(err_, text);
      }
    }
  }
  void Hints(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) Event("hint", line);
  }

  // The result: one JSON event, or the final status text on out where err did not show it.
  void Result(const char* outcome, ExitCode code, const std::string& status,
              const FirmwareReport& report, const FlashPosition* position) {
    if (!options_.json) {
      if (options_.finalOnOut && !status.empty()) out_ << TerminalText(status) << std::endl;
      return;
    }
    JsonObject json;
    json.Add("event", "result")
        .Add("outcome", outcome)
        .Add("exit", static_cast<int>(code))
        .Add("status", status)
        .Add("target", TargetName(report.outcome.target))
        .Add("bytes", report.imageSize);
    if (position != nullptr) json.Add("blocksWritten", position->blocksAcknowledged);
    json.Add("fileSha256", report.fileSha256)
        .Add("sentSha256", report.sentSha256)
        .Add("bytesBeyond", report.bytesBeyond);
    out_ << json.str() << std::endl;
  }

 private:
  const FlashOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
};

// Refuses simulator settings that cannot take effect with this image; empty when they can.
std::string CheckSimOptions(const FlashOptions& options, const FirmwareReport& report) {
  const auto beyond = [&](const std::optional<std::uint32_t>& block, const char* name) {
    if (!block || *block < report.blocks) return std::string();
    return std::string(name) + " " + std::to_string(*block) + ": " + report.path + " has only " +
           std::to_string(report.blocks) + " blocks (0 to " + std::to_string(report.blocks - 1) +
           ")";
  };
  std::string error = beyond(options.sim.refuseBlock, "--sim-refuse-block");
  if (error.empty()) error = beyond(options.sim.silentBlock, "--sim-silent-block");
  return error;
}

}  // namespace

int RunPorts(bool json, std::ostream& out, std::ostream& /*err*/) {
  const std::vector<PortEntry> ports = ListPorts();
  if (json) {
    std::string array = "[";
    for (const PortEntry& port : ports) {
      if (array.size() > 1) array += ',';
      array += JsonObject()
                   .Add("name", port.name)
                   .Add("device", port.device)
                   .Add("detail", port.detail)
                   .Add("kind", port.usbCable ? "usb" : "serial")
                   .Add("usbId", port.usbId)
                   .Add("serialNumber", port.serialNumber)
                   .Add("product", port.product)
                   .Add("ftdi", port.ftdi)
                   .str();
    }
    array += ']';
    out << JsonObject().AddRaw("ports", array).str() << std::endl;
    return kExitCompleted;
  }
  for (const PortEntry& port : ports) {
    // A device's product text is whatever the device chose to report.
    out << TerminalText(port.name);
    if (port.usbCable) out << " (usb)";
    if (!port.device.empty()) out << " -> " << TerminalText(port.device);
    if (!port.detail.empty()) out << "  [" << TerminalText(port.detail) << "]";
    out << '\n';
  }
  out.flush();
  return kExitCompleted;
}

int RunInfo(const std::string& file, bool json, bool strict, std::ostream& out, std::ostream& err) {
  const FirmwareReport report = LoadFirmwareReport(file);
  // With --json the warnings are the object's fields and err stays quiet.
  const auto warn = [&](const std::string& text) {
    if (!json) Say(err, text);
  };
  const std::optional<std::string> refusal =
      report.loaded() ? FirmwareRefusal(report, "", strict, warn) : std::nullopt;
  if (json) {
    out << FormatInfoJson(report) << std::endl;
  } else {
    WarnAboutAddressRecords(report, err);
    out << FormatInfoText(report) << std::flush;
    AdviseOnLoadFailure(report, err);
    if (refusal) Say(err, *refusal);
  }
  return report.loaded() && !refusal ? kExitCompleted : kExitBadFirmware;
}

int RunDecode(const std::string& file, const std::string& output, bool full, std::ostream& out,
              std::ostream& err) {
  const FirmwareReport report = LoadFirmwareReport(file);
  const bool toStdout = output == kStdoutName;
  // With the image on stdout, every text goes to err.
  std::ostream& text = toStdout ? err : out;
  WarnAboutAddressRecords(report, err);
  text << report.outcome.statusText << std::endl;
  if (!report.loaded()) {
    AdviseOnLoadFailure(report, err);
    Say(err, file + " did not load; nothing written");
    return kExitBadFirmware;
  }
  std::string error;
  const std::string destination = ChooseOutputPath(file, output, error);
  if (destination.empty()) {
    Say(err, error + "; nothing written");
    return kExitOutputError;
  }
  const std::size_t size = full ? kFirmwareImageSize : report.imageSize;
  if (toStdout) {
    out.write(reinterpret_cast<const char*>(report.image->data.data()),
              static_cast<std::streamsize>(size));
    out.flush();
    if (!out) {
      err << "loadwing: standard output took only part of the image (closed early?)" << std::endl;
      return kExitOutputError;
    }
    text << "wrote " << size << " bytes to standard output" << std::endl;
    return kExitCompleted;
  }
  if (!WriteFileAtomically(destination, report.image->data.data(), size, error)) {
    Say(err, error);
    return kExitOutputError;
  }
  text << "wrote " << size << " bytes to " << destination << std::endl;
  return kExitCompleted;
}

int RunFlash(const FlashOptions& options, std::ostream& out, std::ostream& err) {
  FlashReporter reporter(options, out, err);
  if (!options.expectSha256.empty() && !IsSha256Text(options.expectSha256)) {
    err << "loadwing: --expect-sha256 takes 64 hexadecimal digits" << std::endl;
    return kExitUsage;
  }
  const FirmwareReport report = LoadFirmwareReport(options.file);
  if (auto warning = AddressRecordWarning(report)) reporter.Event("warning", *warning);
  if (!report.loaded()) {
    const std::string advice = LoadFailureAdvice(report);
    if (!advice.empty()) reporter.Event("hint", advice);
    if (!options.json) out << report.outcome.statusText << std::endl;
    reporter.Result("bad-firmware", kExitBadFirmware, report.outcome.statusText, report, nullptr);
    return kExitBadFirmware;
  }
  const auto warn = [&](const std::string& text) { reporter.Event("warning", text); };
  if (const auto refusal = FirmwareRefusal(report, options.expectSha256, options.strict, warn)) {
    reporter.Event("error", *refusal + "; nothing sent");
    if (!options.json) out << report.outcome.statusText << std::endl;
    reporter.Result("refused", kExitBadFirmware, report.outcome.statusText, report, nullptr);
    return kExitBadFirmware;
  }
  if (const std::string error = CheckSimOptions(options, report); !error.empty()) {
    Say(err, error);
    return kExitUsage;
  }

  const auto mode = options.json          ? TerminalStatusView::Mode::Json
                    : options.progressBar ? TerminalStatusView::Mode::Bar
                                          : TerminalStatusView::Mode::Lines;
  TerminalStatusView view(out, err, mode);
  view.SetStatusText(report.outcome.statusText);
  view.RefreshFields();

  MachineLink link;
  std::vector<std::string> why;
  const LinkError linkError = link.Open(
      LinkOptions{options.port, options.usb, options.sim, options.simClockScale}, view, why);
  if (!link.Note().empty()) reporter.Event("message", link.Note());
  if (linkError != LinkError::None) {
    view.Finish();
    reporter.Hints(why);
    // Where the status line still shows the load, err has said everything.
    const bool changed = view.StatusText() != report.outcome.statusText;
    reporter.Result("no-link", ExitCodeFor(linkError), changed ? view.StatusText() : "", report,
                    nullptr);
    return ExitCodeFor(linkError);
  }

  TransferWatch watch(view);
  FlashRecordEntry entry = NewRecordEntry(report, link, std::time(nullptr));
  FlashPosition position;
  view.Follow(&position);
  const FlashOutcome outcome = link.Transfer(report, view, watch, &position);
  view.Finish();
  watch.Recorder().Finish(outcome, view.StatusText(), entry);
  AppendToFlashRecord(entry, [&](const std::string& text) { reporter.Event("warning", text); });
  reporter.Hints(TransferAdvice(outcome, position, report));
  const ExitCode code = ExitCodeFor(outcome);
  reporter.Result(OutcomeName(outcome), code,
                  outcome == FlashOutcome::Cancelled ? "" : view.StatusText(), report, &position);
  if (!out) {
    // A reader that quit early took the rest of the output with it, not the transfer.
    err << "loadwing: standard output was closed early; the transfer ran to its end: "
        << TerminalText(view.StatusText()) << " (exit " << static_cast<int>(code) << ")"
        << std::endl;
  }
  return code;
}

}  // namespace loadwing::cli
