#include "cli/flash_session.h"

#include <chrono>

#include "cli/interrupt.h"
#include "cli/session_clock.h"
#include "link/link_io.h"

namespace loadwing::cli {

namespace {

// The names of the ports there are, for a port that was not found.
std::string PortsThereAre() {
  std::string names;
  for (const PortEntry& port : ListPorts()) {
    if (!names.empty()) names += ", ";
    names += port.usbCable ? std::string("--usb") : port.name;
  }
  return names.empty() ? "no serial port or cable was found here" : "the ports there are: " + names;
}

}  // namespace

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

MachineLink::MachineLink()
    : serial_(MakeSerialPort()), d2xx_(MakeD2xx()), cable_(std::make_unique<UsbLink>(*d2xx_)) {}

MachineLink::~MachineLink() {
  cable_.reset();
  serial_.reset();
}

LinkError MachineLink::Open(const LinkOptions& options, StatusView& view,
                            std::vector<std::string>& why) {
  if (options.usb) {
    const LinkError error = ConnectUsbCable(*cable_);
    if (error != LinkError::None) {
      view.SetStatus(LinkErrorText(error));
      why.push_back("no FTDI cable described \"" + std::string(kUsbCableDescription) +
                    "\" could be opened");
#ifdef _WIN32
      why.push_back("is it plugged in, and is FTDI's D2XX driver (FTD2XX.dll) installed?");
#else
      why.push_back(
          "is it plugged in? libftdi detaches the kernel's ftdi_sio driver itself, but needs "
          "access to the USB device: the udev rule for vendor 0403 (group dialout)");
#endif
      return error;
    }
    connectionId_ = kUsbConnection;
    label_ = "USB cable";
    view.SetStatus("USB: connected");
    return LinkError::None;
  }
  ResolvedPort port;
  if (options.port == kSimPort) {
    std::string error;
    machine_ = StartSimulatedMachine(options.sim, error);
    if (!machine_) {
      why.push_back(error);
      return LinkError::SimulatorUnavailable;
    }
    port.devicePath = machine_->DevicePath();
    port.label = port.devicePath;
    clockScale_ = options.simClockScale;
    note_ = "simulated machine on " + port.devicePath;
  } else {
    port = ResolveSerialPort(options.port);
    if (!port.error.empty()) {
      why.push_back(port.error);
      if (port.notFound) why.push_back(PortsThereAre());
      return port.notFound ? LinkError::NoSuchPort : LinkError::InvalidHandle;
    }
  }
  const LinkError error = ConnectSerialPort(*serial_, port.devicePath);
  if (error != LinkError::None) {
    view.SetStatus(LinkErrorText(error));
    bool notFound = false;
    for (const std::string& line : DescribePortFailure(port, error, notFound)) why.push_back(line);
    if (notFound) why.push_back(PortsThereAre());
    // The status line keeps the port's own words; the error says what a script needs to know.
    return notFound ? LinkError::NoSuchPort : error;
  }
  connectionId_ = SerialConnection(port.portNumber);
  label_ = options.port == kSimPort ? "sim " + port.label : port.label;
  view.SetStatus(port.label + " connected");
  return LinkError::None;
}

FlashOutcome MachineLink::Transfer(const FirmwareReport& report, StatusView& view,
                                   FlashObserver& observer, FlashPosition* position) {
  SessionClock clock(clockScale_);
  LinkIo link(connectionId_, *serial_, *cable_, view, clock, &InterruptToken());
  return FlashTransfer(*report.image, link, view, clock, observer, position);
}

TransferWatch::TransferWatch(TerminalStatusView& view) : view_(view), recorder_(SteadySeconds) {}

void TransferWatch::PhaseStarted(FlashPhase phase) {
  recorder_.PhaseStarted(phase);
  if (phase == FlashPhase::Blocks) {
    view_.StartBlockRate();
  } else {
    view_.EndBlockRate();
  }
}

void TransferWatch::BlockAcknowledged(std::uint32_t index, std::uint32_t blocks) {
  recorder_.BlockAcknowledged(index, blocks);
  view_.NoteBlocks(index + 1, blocks);
}

void TransferWatch::VerdictReceived(std::string_view answer) {
  recorder_.VerdictReceived(answer);
}

FlashRecordEntry NewRecordEntry(const FirmwareReport& report, const MachineLink& link,
                                std::int64_t startedUtc) {
  FlashRecordEntry entry;
  entry.time = UtcTimeText(startedUtc);
  entry.program = LOADWING_CLI_NAME;
  entry.version = LOADWING_VERSION;
  entry.link = link.Label();
  entry.file = report.path;
  DescribeFirmware(*report.image, nullptr, entry);
  entry.fileSha256 = report.fileSha256;
  return entry;
}

void AppendToFlashRecord(const FlashRecordEntry& entry,
                         const std::function<void(const std::string&)>& warn) {
  std::string error;
  const std::string path = DefaultFlashRecordPath(error);
  if (path.empty() || !FileFlashRecord(path).Append(entry, error)) {
    warn("the flash record was not written: " + error);
  }
}

}  // namespace loadwing::cli
