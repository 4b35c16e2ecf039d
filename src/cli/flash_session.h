#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <ostream>

#include "cli/cli_platform.h"
#include "cli/firmware_report.h"
#include "cli/terminal_status_view.h"
#include "flash/flash_transfer.h"
#include "flash/loopback_test.h"
#include "link/connection.h"
#include "link/link_connect.h"
#include "link/link_trace.h"
#include "link/usb_link.h"
#include "record/flash_record.h"

namespace loadwing::cli {

inline constexpr const char* kSimPort = "sim";

// How a command reaches the machine: --port PORT (or "sim"), or --usb.
struct LinkOptions {
  std::string port;  // a serial port, or "sim"; empty with usb
  bool usb = false;
  SimOptions sim;
  double simClockScale = 1.0;
  // Where every call on the link is traced; none: no trace.
  TraceSink* trace = nullptr;
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

  // One transfer of a loaded plan's image; Cancelled when the user stops it (Ctrl-C).
  [[nodiscard]] FlashOutcome Transfer(const TransferPlan& plan, StatusView& view,
                                      FlashObserver& observer, FlashPosition* position = nullptr);
  // The loopback check over the open link, with a plug where the machine would be.
  [[nodiscard]] LoopbackReport Loopback(StatusView& view, FineClock& clock);

 private:
  // Declared first so that it goes last: the port closes before the machine.
  std::unique_ptr<SimulatedMachine> machine_;
  // Before the link, so that its closing is still traced.
  SteadyFineClock traceClock_;
  std::unique_ptr<LinkTrace> trace_;
  std::unique_ptr<TracingSerialPort> tracedSerial_;
  std::unique_ptr<TracingD2xx> tracedD2xx_;
  std::unique_ptr<SerialPort> serial_;
  std::unique_ptr<D2xx> d2xx_;
  std::unique_ptr<UsbLink> cable_;
  SerialPort& Serial() { return tracedSerial_ ? *tracedSerial_ : *serial_; }

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
  // How far the transfer got, with blockCount from blocks; safe to read from any thread.
  FlashPosition Position(std::uint32_t blocks) const;

 private:
  TerminalStatusView& view_;
  TransferRecorder recorder_;
  std::atomic<FlashStage> stage_{FlashStage::Request};
  std::atomic<std::uint32_t> acknowledged_{0};
};

// Everything flash and update say besides the status lines: text on err, or with json one
// event per line on out, so that err stays quiet.
class TransferReporter {
 public:
  TransferReporter(bool json, std::ostream& out, std::ostream& err)
      : json_(json), out_(out), err_(err) {}
  bool Json() const { return json_; }
  // kind: "warning", "hint", "error", "message".
  void Event(const char* kind, const std::string& text);
  void Hints(const std::vector<std::string>& lines);
  // The warnings about a file that will be flashed: records skipped or taken as data, and
  // (unless strict refuses them) bytes a transfer leaves out.
  void FileWarnings(const TransferPlan& plan, bool strict);

 private:
  bool json_;
  std::ostream& out_;
  std::ostream& err_;
};

// How one transfer went.
struct TransferRun {
  FlashOutcome outcome = FlashOutcome::NotStarted;
  FlashPosition position;
  std::string status;  // the final status text
  double seconds = 0;
  // The link refused to send: the adapter or cable is gone, and no later transfer can reach
  // the machine.
  bool linkLost() const { return outcome == FlashOutcome::WriteError; }
};

// The one transfer path of flash and update: the record's "started" line before the first
// byte, the transfer with its progress and stages, the outcome line (or a warning that the
// record was not written), and the advice on what the controller was left with.
TransferRun RunTransfer(const TransferPlan& plan, MachineLink& link, TerminalStatusView& view,
                        TransferReporter& reporter, const std::string& machine);

// The result of a transfer as one JSON object ("event": "result"); controller, when set, names
// the controller as update's summary does.
std::string TransferResultJson(const TransferPlan& plan, const char* outcome, int exitCode,
                               const std::string& status, const FlashPosition* position,
                               bool withController);

// The record entry of a transfer of plan over link that begins at startedUtc.
FlashRecordEntry NewRecordEntry(const TransferPlan& plan, const MachineLink& link,
                                std::int64_t startedUtc, const std::string& machine);

// Appends entry to the user's flash record; a failure is passed to warn and changes nothing else.
void AppendToFlashRecord(const FlashRecordEntry& entry,
                         const std::function<void(const std::string&)>& warn);

// Until ClearLastWords(), a process ended at once by a later interrupt still appends entry as
// interrupted, with how far watch saw the transfer get, and says on stderr where it stopped.
void KeepLastWords(const FlashRecordEntry& entry, const TransferWatch& watch,
                   const TransferPlan& plan);

// Seconds of a steady clock, for phases and summaries.
double SteadySeconds();

}  // namespace loadwing::cli
