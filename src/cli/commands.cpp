#include "cli/commands.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "cli/exit_codes.h"
#include "cli/firmware_report.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/session_clock.h"
#include "cli/terminal_status_view.h"
#include "flash/flash_transfer.h"
#include "link/connection.h"
#include "link/link_connect.h"
#include "link/link_io.h"
#include "link/usb_link.h"

namespace loadwing::cli {

namespace {

void WarnAboutAddressRecords(const FirmwareReport& report, std::ostream& err) {
  if (auto warning = AddressRecordWarning(report)) err << "loadwing: " << *warning << std::endl;
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

int RunInfo(const std::string& file, bool json, std::ostream& out, std::ostream& err) {
  const FirmwareReport report = LoadFirmwareReport(file);
  WarnAboutAddressRecords(report, err);
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
  const FirmwareReport report = LoadFirmwareReport(options.file);
  WarnAboutAddressRecords(report, err);
  if (!report.loaded()) {
    if (options.json) {
      out << ResultEvent("bad-firmware", kExitBadFirmware, report.outcome.statusText) << std::endl;
    } else {
      out << report.outcome.statusText << std::endl;
    }
    return kExitBadFirmware;
  }

  const auto mode = options.json          ? TerminalStatusView::Mode::Json
                    : options.progressBar ? TerminalStatusView::Mode::Bar
                                          : TerminalStatusView::Mode::Lines;
  TerminalStatusView view(out, err, mode);
  view.SetStatusText(report.outcome.statusText);
  view.RefreshFields();

  // Declared before the links so that they outlive them: the port closes before the machine.
  std::unique_ptr<SimulatedMachine> machine;
  const std::unique_ptr<SerialPort> serial = MakeSerialPort();
  const std::unique_ptr<D2xx> d2xx = MakeD2xx();
  UsbLink cable(*d2xx);
  ConnectionId connectionId = kNoConnection;

  const auto noLink = [&](const std::string& why) {
    view.Finish();
    if (!why.empty()) err << "loadwing: " << why << std::endl;
    if (options.json) {
      out << ResultEvent("no-link", kExitNoLink, view.StatusText()) << std::endl;
    } else if (options.finalOnOut && view.StatusText() != report.outcome.statusText) {
      out << TerminalText(view.StatusText()) << std::endl;
    }
    return kExitNoLink;
  };

  if (options.usb) {
    if (const LinkError error = ConnectUsbCable(cable); error != LinkError::None) {
      view.SetStatus(LinkErrorText(error));
      return noLink("no FTDI cable described \"" + std::string(kUsbCableDescription) +
                    "\" could be opened (attached? driver or permissions?)");
    }
    connectionId = kUsbConnection;
    view.SetStatus("USB: connected");
  } else {
    ResolvedPort port;
    if (options.port == kSimPort) {
      std::string error;
      machine = StartSimulatedMachine(options.sim, error);
      if (!machine) return noLink(error);
      port.devicePath = machine->DevicePath();
      port.label = port.devicePath;
      if (!options.json) err << "loadwing: simulated machine on " << port.devicePath << std::endl;
    } else {
      port = ResolveSerialPort(options.port);
      if (!port.error.empty()) return noLink(port.error);
    }
    if (const LinkError error = ConnectSerialPort(*serial, port.devicePath);
        error != LinkError::None) {
      view.SetStatus(LinkErrorText(error));
      return noLink("cannot use " + port.label +
                    (error == LinkError::InvalidHandle
                         ? " (missing, used by another program, or no permission)"
                         : ""));
    }
    connectionId = SerialConnection(port.portNumber);
    view.SetStatus(port.label + " connected");
  }

  SessionClock clock(options.port == kSimPort ? options.simClockScale : 1.0);
  LinkIo link(connectionId, *serial, cable, view, clock, &InterruptToken());
  const FlashOutcome outcome = FlashTransfer(*report.image, link, view, clock);
  if (outcome == FlashOutcome::Cancelled) {
    view.Finish();
    err << "loadwing: interrupted; the transfer was stopped before its end, so the controller "
           "may hold incomplete firmware: flash it again"
        << std::endl;
    if (options.json) out << ResultEvent("interrupted", kExitInterrupted, "") << std::endl;
    return kExitInterrupted;
  }
  view.Finish();

  const ExitCode code = ExitCodeFor(outcome);
  if (options.json) {
    out << JsonObject()
               .Add("event", "result")
               .Add("outcome", OutcomeName(outcome))
               .Add("exit", static_cast<int>(code))
               .Add("status", view.StatusText())
               .Add("target", TargetName(report.outcome.target))
               .Add("bytes", report.imageSize)
               .str()
        << std::endl;
  } else if (options.finalOnOut) {
    out << TerminalText(view.StatusText()) << std::endl;
  }
  return code;
}

}  // namespace loadwing::cli
