#include "cli/commands.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "cli/advice.h"
#include "cli/exit_codes.h"
#include "cli/firmware_report.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/output_file.h"
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

void AdviseOnLoadFailure(const FirmwareReport& report, std::ostream& err) {
  const std::string advice = LoadFailureAdvice(report);
  if (!advice.empty()) err << "loadwing: " << advice << std::endl;
}

// The names of the ports there are, for a port that was not found.
std::string PortsThereAre() {
  std::string names;
  for (const PortEntry& port : ListPorts()) {
    if (!names.empty()) names += ", ";
    names += port.usbCable ? std::string("--usb") : port.name;
  }
  return names.empty() ? "no serial port or cable was found here" : "the ports there are: " + names;
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
      err_ << (text.rfind("  ", 0) == 0 ? "" : "loadwing: ") << text << std::endl;
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

// The open link of one flash run; declared so that the port closes before the machine stops.
struct FlashLink {
  std::unique_ptr<SimulatedMachine> machine;
  std::unique_ptr<SerialPort> serial = MakeSerialPort();
  std::unique_ptr<D2xx> d2xx = MakeD2xx();
  UsbLink cable{*d2xx};
  ConnectionId connectionId = kNoConnection;
};

// Opens the link options name; on failure the status line holds the link's text and why lists
// what went wrong and what to do.
LinkError OpenFlashLink(const FlashOptions& options, FlashLink& link, StatusView& view,
                        FlashReporter& reporter, std::vector<std::string>& why) {
  if (options.usb) {
    const LinkError error = ConnectUsbCable(link.cable);
    if (error != LinkError::None) {
      view.SetStatus(LinkErrorText(error));
      why.push_back("no FTDI cable described \"" + std::string(kUsbCableDescription) +
                    "\" could be opened");
#ifdef _WIN32
      why.push_back("is it plugged in, and is FTDI's D2XX driver (FTD2XX.dll) installed?");
#else
      why.push_back(
          "is it plugged in? libftdi needs the kernel's ftdi_sio driver unbound and "
          "access to the USB device (a udev rule for vendor 0403)");
#endif
      return error;
    }
    link.connectionId = kUsbConnection;
    view.SetStatus("USB: connected");
    return LinkError::None;
  }
  ResolvedPort port;
  if (options.port == kSimPort) {
    std::string error;
    link.machine = StartSimulatedMachine(options.sim, error);
    if (!link.machine) {
      why.push_back(error);
      return LinkError::InvalidHandle;
    }
    port.devicePath = link.machine->DevicePath();
    port.label = port.devicePath;
    reporter.Event("message", "simulated machine on " + port.devicePath);
  } else {
    port = ResolveSerialPort(options.port);
    if (!port.error.empty()) {
      why.push_back(port.error);
      if (port.notFound) why.push_back(PortsThereAre());
      return LinkError::InvalidHandle;
    }
  }
  const LinkError error = ConnectSerialPort(*link.serial, port.devicePath);
  if (error != LinkError::None) {
    view.SetStatus(LinkErrorText(error));
    bool notFound = false;
    for (const std::string& line : DescribePortFailure(port, error, notFound)) why.push_back(line);
    if (notFound) why.push_back(PortsThereAre());
    return error;
  }
  link.connectionId = SerialConnection(port.portNumber);
  view.SetStatus(port.label + " connected");
  return LinkError::None;
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
  if (json) {
    out << FormatInfoJson(report) << std::endl;
  } else {
    WarnAboutAddressRecords(report, err);
    out << FormatInfoText(report) << std::flush;
    AdviseOnLoadFailure(report, err);
  }
  return report.loaded() ? kExitCompleted : kExitBadFirmware;
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
    err << "loadwing: " << file << " did not load; nothing written" << std::endl;
    return kExitBadFirmware;
  }
  std::string error;
  const std::string destination = ChooseOutputPath(file, output, error);
  if (destination.empty()) {
    err << "loadwing: " << error << "; nothing written" << std::endl;
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
    err << "loadwing: " << error << std::endl;
    return kExitOutputError;
  }
  text << "wrote " << size << " bytes to " << destination << std::endl;
  return kExitCompleted;
}

int RunFlash(const FlashOptions& options, std::ostream& out, std::ostream& err) {
  FlashReporter reporter(options, out, err);
  const FirmwareReport report = LoadFirmwareReport(options.file);
  if (auto warning = AddressRecordWarning(report)) reporter.Event("warning", *warning);
  if (!report.loaded()) {
    const std::string advice = LoadFailureAdvice(report);
    if (!advice.empty()) reporter.Event("hint", advice);
    if (!options.json) out << report.outcome.statusText << std::endl;
    reporter.Result("bad-firmware", kExitBadFirmware, report.outcome.statusText, report, nullptr);
    return kExitBadFirmware;
  }
  if (const std::string error = CheckSimOptions(options, report); !error.empty()) {
    err << "loadwing: " << error << std::endl;
    return kExitUsage;
  }

  const auto mode = options.json          ? TerminalStatusView::Mode::Json
                    : options.progressBar ? TerminalStatusView::Mode::Bar
                                          : TerminalStatusView::Mode::Lines;
  TerminalStatusView view(out, err, mode);
  view.SetStatusText(report.outcome.statusText);
  view.RefreshFields();

  FlashLink link;
  std::vector<std::string> why;
  const LinkError linkError = OpenFlashLink(options, link, view, reporter, why);
  if (linkError != LinkError::None) {
    view.Finish();
    reporter.Hints(why);
    // Where the status line still shows the load, err has said everything.
    const bool changed = view.StatusText() != report.outcome.statusText;
    reporter.Result("no-link", ExitCodeFor(linkError), changed ? view.StatusText() : "", report,
                    nullptr);
    return ExitCodeFor(linkError);
  }

  SessionClock clock(options.port == kSimPort ? options.simClockScale : 1.0);
  LinkIo io(link.connectionId, *link.serial, link.cable, view, clock, &InterruptToken());
  FlashPosition position;
  view.Follow(&position);
  const FlashOutcome outcome = FlashTransfer(*report.image, io, view, clock, &position);
  view.Finish();
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
