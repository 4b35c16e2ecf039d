#include "cli/flash_session.h"

#include <chrono>

#include "cli/session_clock.h"
#include "link/link_io.h"
#include "link/serial_connect.h"

namespace loadwing::cli {

namespace {

// The cable's line settings: 38400 baud, no parity, one stop bit, 8 data bits.
constexpr std::uint32_t kCableBaud = 38400;
constexpr std::uint8_t kParityNone = 0;
constexpr std::uint8_t kOneStopBit = 0;
constexpr std::uint8_t kEightBits = 8;

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

bool MachineLink::Open(const LinkOptions& options, StatusView& view, bool quiet, std::ostream& err,
                       std::string& why) {
  if (options.usb) {
    if (!cable_->OpenByDescription(kUsbCableDescription, kCableBaud, kParityNone, kOneStopBit,
                                   kEightBits)) {
      cable_->Close();
      view.SetStatus("USB: connect error");
      why = "no FTDI cable described \"" + std::string(kUsbCableDescription) +
            "\" could be opened (attached? driver or permissions?)";
      return false;
    }
    connectionId_ = kUsbConnection;
    label_ = "USB cable";
    view.SetStatus("USB: connected");
    return true;
  }
  ResolvedPort port;
  if (options.port == kSimPort) {
    machine_ = StartSimulatedMachine(options.sim, why);
    if (!machine_) return false;
    port.devicePath = machine_->DevicePath();
    port.label = port.devicePath;
    clockScale_ = options.simClockScale;
    if (!quiet) err << "loadwing: simulated machine on " << port.devicePath << std::endl;
  } else {
    port = ResolveSerialPort(options.port);
    if (!port.error.empty()) {
      why = port.error;
      return false;
    }
  }
  if (const auto failure = OpenConfiguredSerial(*serial_, port.devicePath)) {
    view.SetStatus(*failure);
    why =
        "cannot use " + port.label +
        (*failure == "COM: invalid handle" ? " (missing, used by another program, or no permission)"
                                           : "");
    return false;
  }
  connectionId_ = SerialConnection(port.portNumber);
  label_ = options.port == kSimPort ? "sim " + port.label : port.label;
  view.SetStatus(port.label + " connected");
  return true;
}

FlashOutcome MachineLink::Transfer(const FirmwareReport& report, StatusView& view,
                                   FlashObserver& observer) {
  SessionClock clock(clockScale_);
  LinkIo link(connectionId_, *serial_, *cable_, view, clock);
  return FlashTransfer(*report.image, link, view, clock, observer);
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

void AppendToFlashRecord(const FlashRecordEntry& entry, std::ostream& err) {
  std::string error;
  const std::string path = DefaultFlashRecordPath(error);
  if (path.empty() || !FileFlashRecord(path).Append(entry, error)) {
    err << "loadwing: warning: the flash record was not written: " << error << std::endl;
  }
}

}  // namespace loadwing::cli
