#include "cli/commands.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/firmware_report.h"
#include "cli/flash_session.h"
#include "cli/json.h"
#include "cli/session_clock.h"
#include "cli/terminal_status_view.h"
#include "core/sha256.h"

namespace loadwing::cli {

namespace {

void WarnAboutAddressRecords(const FirmwareReport& report, std::ostream& err) {
  if (auto warning = AddressRecordWarning(report)) err << "loadwing: " << *warning << std::endl;
}

// The warnings about report, and what stands against flashing it, joined; nothing when all is
// well.
std::optional<std::string> FirmwareRefusal(const FirmwareReport& report,
                                           const std::string& expectedSha256, bool strict,
                                           std::ostream& err) {
  if (!strict) {
    if (auto warning = BytesBeyondWarning(report)) err << "loadwing: " << *warning << std::endl;
  }
  const std::vector<std::string> problems = FirmwareProblems(report, expectedSha256, strict);
  if (problems.empty()) return std::nullopt;
  std::string text;
  for (const std::string& problem : problems) text += (text.empty() ? "" : "; ") + problem;
  return text;
}

// Writes the bytes beside the destination first and renames them into place, so that a failed
// write never leaves a truncated image under the name asked for.
bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size,
                         std::string& error) {
  const std::string partial = path + ".part";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    if (!file) {
      error = "cannot create " + partial;
      return false;
    }
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    if (!file) {
      std::error_code ignored;
      std::filesystem::remove(partial, ignored);
      error = "cannot write " + partial;
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(partial, path, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    error = "cannot rename " + partial + " to " + path + ": " + ec.message();
    return false;
  }
  return true;
}

std::string ResultEvent(const char* outcome, int exitCode, const std::string& status) {
  return JsonObject()
      .Add("event", "result")
      .Add("outcome", outcome)
      .Add("exit", exitCode)
      .Add("status", status)
      .str();
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
                   .str();
    }
    array += ']';
    out << JsonObject().AddRaw("ports", array).str() << std::endl;
    return kExitCompleted;
  }
  for (const PortEntry& port : ports) {
    out << port.name;
    if (port.usbCable) out << " (usb)";
    if (!port.device.empty()) out << " -> " << port.device;
    if (!port.detail.empty()) out << "  [" << port.detail << "]";
    out << '\n';
  }
  out.flush();
  return kExitCompleted;
}

int RunInfo(const std::string& file, bool json, bool strict, std::ostream& out, std::ostream& err) {
  const FirmwareReport report = LoadFirmwareReport(file);
  WarnAboutAddressRecords(report, err);
  if (const auto refusal = FirmwareRefusal(report, "", strict, err)) {
    err << "loadwing: " << *refusal << std::endl;
    return kExitBadFirmware;
  }
  if (json) {
    out << FormatInfoJson(report) << std::endl;
  } else {
    out << FormatInfoText(report) << std::flush;
  }
  return report.loaded() ? kExitCompleted : kExitBadFirmware;
}

int RunDecode(const std::string& file, const std::string& output, bool full, std::ostream& out,
              std::ostream& err) {
  const FirmwareReport report = LoadFirmwareReport(file);
  WarnAboutAddressRecords(report, err);
  out << report.outcome.statusText << std::endl;
  if (!report.loaded()) {
    err << "loadwing: " << file << " did not load; nothing written" << std::endl;
    return kExitBadFirmware;
  }
  const std::size_t size = full ? kFirmwareImageSize : report.imageSize;
  std::string error;
  if (!WriteFileAtomically(output, report.image->data.data(), size, error)) {
    err << "loadwing: " << error << std::endl;
    return kExitOutputError;
  }
  out << "wrote " << size << " bytes to " << output << std::endl;
  return kExitCompleted;
}

int RunFlash(const FlashOptions& options, std::ostream& out, std::ostream& err) {
  if (!options.expectSha256.empty() && !IsSha256Text(options.expectSha256)) {
    err << "loadwing: --expect-sha256 takes 64 hexadecimal digits" << std::endl;
    return kExitUsage;
  }
  const FirmwareReport report = LoadFirmwareReport(options.file);
  WarnAboutAddressRecords(report, err);
  const auto refuse = [&](const char* outcome, const std::string& status) {
    if (options.json) {
      out << ResultEvent(outcome, kExitBadFirmware, status) << std::endl;
    } else {
      out << status << std::endl;
    }
    return kExitBadFirmware;
  };
  if (!report.loaded()) return refuse("bad-firmware", report.outcome.statusText);
  if (const auto refusal = FirmwareRefusal(report, options.expectSha256, options.strict, err)) {
    err << "loadwing: " << *refusal << "; nothing sent" << std::endl;
    return refuse("refused", report.outcome.statusText);
  }

  const auto mode = options.json          ? TerminalStatusView::Mode::Json
                    : options.progressBar ? TerminalStatusView::Mode::Bar
                                          : TerminalStatusView::Mode::Lines;
  TerminalStatusView view(out, err, mode);
  view.SetStatusText(report.outcome.statusText);
  view.RefreshFields();

  MachineLink link;
  std::string why;
  if (!link.Open(LinkOptions{options.port, options.usb, options.sim, options.simClockScale}, view,
                 options.json, err, why)) {
    view.Finish();
    if (!why.empty()) err << "loadwing: " << why << std::endl;
    if (options.json) {
      out << ResultEvent("no-link", kExitNoLink, view.StatusText()) << std::endl;
    } else if (options.finalOnOut && view.StatusText() != report.outcome.statusText) {
      out << TerminalText(view.StatusText()) << std::endl;
    }
    return kExitNoLink;
  }

  TransferWatch watch(view);
  FlashRecordEntry entry = NewRecordEntry(report, link, std::time(nullptr));
  FlashOutcome outcome = FlashOutcome::NotStarted;
  try {
    outcome = link.Transfer(report, view, watch);
  } catch (const Interrupted&) {
    view.Finish();
    watch.Recorder().Finish(FlashOutcome::NotStarted, view.StatusText(), entry);
    entry.outcome = "interrupted";
    AppendToFlashRecord(entry, err);
    err << "loadwing: interrupted; the transfer was stopped before its end, so the controller "
           "may hold incomplete firmware: flash it again"
        << std::endl;
    if (options.json) out << ResultEvent("interrupted", kExitInterrupted, "") << std::endl;
    return kExitInterrupted;
  }
  view.Finish();
  watch.Recorder().Finish(outcome, view.StatusText(), entry);
  AppendToFlashRecord(entry, err);

  const ExitCode code = ExitCodeFor(outcome);
  if (options.json) {
    out << JsonObject()
               .Add("event", "result")
               .Add("outcome", OutcomeName(outcome))
               .Add("exit", static_cast<int>(code))
               .Add("status", view.StatusText())
               .Add("target", TargetName(report.outcome.target))
               .Add("bytes", report.imageSize)
               .Add("fileSha256", report.fileSha256)
               .Add("sentSha256", report.sentSha256)
               .Add("bytesBeyond", report.bytesBeyond)
               .str()
        << std::endl;
  } else if (options.finalOnOut) {
    out << TerminalText(view.StatusText()) << std::endl;
  }
  return code;
}

}  // namespace loadwing::cli
