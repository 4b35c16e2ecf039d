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
#include "cli/interrupt.h"
#include "cli/output_file.h"
#include "cli/terminal_status_view.h"
#include "cli/terminal_text.h"
#include "core/json.h"
#include "core/sha256.h"
#include "flash/flash_transfer.h"

namespace loadwing::cli {

namespace {

void WarnAboutAddressRecords(const TransferPlan& report, std::ostream& err) {
  if (auto warning = AddressRecordWarning(report)) Say(err, *warning);
}

void AdviseOnLoadFailure(const TransferPlan& report, std::ostream& err) {
  const std::string advice = LoadFailureAdvice(report);
  if (!advice.empty()) Say(err, advice);
}

// What stands against flashing plan, joined; nothing when all is well.
std::optional<std::string> FirmwareRefusal(const TransferPlan& plan,
                                           const std::string& expectedSha256, bool strict) {
  const std::vector<std::string> problems = FirmwareProblems(plan, expectedSha256, strict);
  if (problems.empty()) return std::nullopt;
  std::string text;
  for (const std::string& problem : problems) text += (text.empty() ? "" : "; ") + problem;
  return text;
}

// The result of flash: one JSON event, or the final status text on out where err did not
// show it already.
void FlashResult(const FlashOptions& options, std::ostream& out, const TransferPlan& plan,
                 const char* outcome, ExitCode code, const std::string& status,
                 const FlashPosition* position, bool shownOnErr) {
  if (options.json) {
    out << TransferResultJson(plan, outcome, code, status, position, false) << std::endl;
  } else if (!shownOnErr && !status.empty()) {
    out << TerminalText(status) << std::endl;
  }
}

// Refuses simulator settings that cannot take effect with this image; empty when they can.
std::string CheckSimOptions(const FlashOptions& options, const TransferPlan& report) {
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
  const TransferPlan report = MakeTransferPlan(file);
  const std::vector<std::string> problems =
      report.loaded() ? FirmwareProblems(report, "", strict) : std::vector<std::string>();
  if (json) {
    // The warnings and problems are the object's fields, and err stays quiet.
    out << FormatInfoJson(report, problems) << std::endl;
  } else {
    WarnAboutAddressRecords(report, err);
    if (!strict) {
      if (auto warning = BytesBeyondWarning(report)) err << "loadwing: " << *warning << std::endl;
    }
    out << FormatInfoText(report) << std::flush;
    AdviseOnLoadFailure(report, err);
    for (const std::string& problem : problems) Say(err, problem);
  }
  return report.loaded() && problems.empty() ? kExitCompleted : kExitBadFirmware;
}

int RunDecode(const std::string& file, const std::string& output, bool full, std::ostream& out,
              std::ostream& err) {
  const TransferPlan report = MakeTransferPlan(file);
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
  TransferReporter reporter(options.json, out, err);
  if (!options.expectSha256.empty() && !IsSha256Text(options.expectSha256)) {
    err << "loadwing: --expect-sha256 takes 64 hexadecimal digits" << std::endl;
    return kExitUsage;
  }
  const TransferPlan plan = MakeTransferPlan(options.file);
  reporter.FileWarnings(plan, options.strict);
  if (!plan.loaded()) {
    const std::string advice = LoadFailureAdvice(plan);
    if (!advice.empty()) reporter.Event("hint", advice);
    FlashResult(options, out, plan, "bad-firmware", kExitBadFirmware, plan.outcome.statusText,
                nullptr, false);
    return kExitBadFirmware;
  }
  if (const auto refusal = FirmwareRefusal(plan, options.expectSha256, options.strict)) {
    reporter.Event("error", *refusal + "; nothing sent");
    FlashResult(options, out, plan, "refused", kExitBadFirmware, plan.outcome.statusText, nullptr,
                false);
    return kExitBadFirmware;
  }
  if (const std::string error = CheckSimOptions(options, plan); !error.empty()) {
    Say(err, error);
    return kExitUsage;
  }
  // Stopped while the file was being read: no link opened, nothing sent or recorded.
  if (InterruptToken().Cancelled()) {
    reporter.Event("error", "interrupted before anything was sent");
    FlashResult(options, out, plan, "interrupted", kExitInterrupted, "", nullptr, true);
    return kExitInterrupted;
  }

  const auto mode = options.json          ? TerminalStatusView::Mode::Json
                    : options.progressBar ? TerminalStatusView::Mode::Bar
                                          : TerminalStatusView::Mode::Lines;
  TerminalStatusView view(out, err, mode);
  view.SetStatusText(plan.outcome.statusText);
  view.RefreshFields();

  MachineLink link;
  std::vector<std::string> why;
  const LinkError linkError = link.Open(
      LinkOptions{options.port, options.usb, options.sim, options.simClockScale, options.trace},
      view, why);
  if (!link.Note().empty()) reporter.Event("message", link.Note());
  if (linkError != LinkError::None) {
    view.Finish();
    reporter.Hints(why);
    // Where the status line still shows the load, err has said everything.
    const bool changed = view.StatusText() != plan.outcome.statusText;
    FlashResult(options, out, plan, "no-link", ExitCodeFor(linkError),
                changed ? view.StatusText() : "", nullptr, !options.finalOnOut);
    return ExitCodeFor(linkError);
  }

  const TransferRun run = RunTransfer(plan, link, view, reporter, options.machine);
  const ExitCode code = ExitCodeFor(run.outcome);
  FlashResult(options, out, plan, FlashOutcomeName(run.outcome), code,
              run.outcome == FlashOutcome::Cancelled ? "" : run.status, &run.position,
              !options.finalOnOut);
  if (!out) {
    // A reader that quit early took the rest of the output with it, not the transfer.
    err << "loadwing: standard output was closed early; the transfer ran to its end: "
        << TerminalText(run.status) << " (exit " << static_cast<int>(code) << ")" << std::endl;
  }
  return code;
}

}  // namespace loadwing::cli
