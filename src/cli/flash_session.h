#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/flash_record.h"
#include "cli/cli_platform.h"
#include "cli/firmware_report.h"
#include "cli/terminal_status_view.h"
#include "flash/flash_transfer.h"
#include "link/connection.h"
#include "link/link_connect.h"
#include "link/usb_link.h"

namespace loadwing::cli {

inline constexpr const char* kSimPort = "sim";

// How a command reaches the machine: --port PORT (or "sim"), or --usb.
struct LinkOptions {
  std::string port;  // a serial port, or "sim"; empty with usb
  bool usb = false;
  SimOptions sim;
  double simClockScale = 1.0;
};

// The link a command opens once and flashes over as often as it needs; closed when it goes.
class MachineLink {
 public:
  MachineLink();
  ~MachineLink();
  MachineLink(const MachineLink&) = delete;
  MachineLink& operator=(const MachineLink&) = delete;

  // Opens the link, showing on view what the dialog would ("COM3 connected", "USB: connect
  // error"); on failure why lists what went wrong and what to do.
  [[nodiscard]] LinkError Open(const LinkOptions& options, StatusView& view,
                               std::vector<std::string>& why);
  // How the record and the summary name the link: "COM3", "USB cable", "/dev/ttyUSB0".
  const std::string& Label() const { return label_; }
  // Where the simulated machine runs ("simulated machine on /dev/pts/4"); empty otherwise.
  const std::string& Note() const { return note_; }

  // One transfer of a loaded report's image; Cancelled when the user stops it (Ctrl-C).
  [[nodiscard]] FlashOutcome Transfer(const FirmwareReport& report, StatusView& view,
                                      FlashObserver& observer, FlashPosition* position = nullptr);

 private:
  // Declared first so that it goes last: the port closes before the machine.
  std::unique_ptr<SimulatedMachine> machine_;
  std::unique_ptr<SerialPort> serial_;
  std::unique_ptr<D2xx> d2xx_;
  std::unique_ptr<UsbLink> cable_;
  ConnectionId connectionId_ = kNoConnection;
  double clockScale_ = 1.0;
  std::string label_;
  std::string note_;
};

// Passes a transfer's course on to the record and to the terminal's progress figures.
class TransferWatch final : public FlashObserver {
 public:
  explicit TransferWatch(TerminalStatusView& view);
  void PhaseStarted(FlashPhase phase) override;
  void BlockAcknowledged(std::uint32_t index, std::uint32_t blocks) override;
  void VerdictReceived(std::string_view answer) override;
  TransferRecorder& Recorder() { return recorder_; }

 private:
  TerminalStatusView& view_;
  TransferRecorder recorder_;
};

// The record entry of a transfer of report over link that began at startedUtc.
FlashRecordEntry NewRecordEntry(const FirmwareReport& report, const MachineLink& link,
                                std::int64_t startedUtc);

// Appends entry to the user's flash record; a failure is passed to warn and changes nothing else.
void AppendToFlashRecord(const FlashRecordEntry& entry,
                         const std::function<void(const std::string&)>& warn);

// Seconds of a steady clock, for phases and summaries.
double SteadySeconds();

}  // namespace loadwing::cli
