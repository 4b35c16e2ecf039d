#include "cli/flash_session.h"

#include <chrono>
#include <ctime>
#include <iostream>
#include <utility>

#include "cli/advice.h"
#include "cli/interrupt.h"
#include "cli/session_clock.h"
#include "cli/terminal_text.h"
#include "core/json.h"
#include "link/link_io.h"
#include "record/record_entry.h"

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
  if (tracedSerial_) tracedSerial_->Close();
  serial_.reset();
}

LinkError MachineLink::Open(const LinkOptions& options, StatusView& view,
                            std::vector<std::string>& why) {
  if (options.trace != nullptr) {
    trace_ = std::make_unique<LinkTrace>(*options.trace, traceClock_);
    tracedSerial_ = std::make_unique<TracingSerialPort>(*serial_, *trace_);
    tracedD2xx_ = std::make_unique<TracingD2xx>(*d2xx_, *trace_);
    cable_ = std::make_unique<UsbLink>(*tracedD2xx_);
  }
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
  const LinkError error = ConnectSerialPort(Serial(), port.devicePath);
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

FlashOutcome MachineLink::Transfer(const TransferPlan& plan, StatusView& view,
                                   FlashObserver& observer, FlashPosition* position) {
  SessionClock clock(clockScale_);
  LinkIo link(connectionId_, Serial(), *cable_, view, clock, &InterruptToken());
  const FlashOutcome outcome = FlashTransfer(*plan.image, link, view, clock, observer, position);
  ReleaseSuspend();  // held from the first block on
  return outcome;
}

LoopbackReport MachineLink::Loopback(StatusView& view, FineClock& clock) {
  SessionClock seconds(clockScale_);
  LinkIo link(connectionId_, Serial(), *cable_, view, seconds, &InterruptToken());
  return RunLoopbackTest(link, clock);
}

TransferWatch::TransferWatch(TerminalStatusView& view) : view_(view), recorder_(SteadySeconds) {}

void TransferWatch::PhaseStarted(FlashPhase phase) {
  recorder_.PhaseStarted(phase);
  if (phase == FlashPhase::Blocks) {
    // From the first block the machine cannot wait: a suspend request waits for the end.
    HoldSuspend();
    stage_.store(FlashStage::Blocks);
    view_.StartBlockRate();
  } else {
    view_.EndBlockRate();
    if (phase == FlashPhase::Verdict) stage_.store(FlashStage::Verdict);
  }
}

void TransferWatch::BlockAcknowledged(std::uint32_t index, std::uint32_t blocks) {
  recorder_.BlockAcknowledged(index, blocks);
  acknowledged_.store(index + 1);
  view_.NoteBlocks(index + 1, blocks);
}

void TransferWatch::VerdictReceived(std::string_view answer) {
  recorder_.VerdictReceived(answer);
}

FlashPosition TransferWatch::Position(std::uint32_t blocks) const {
  FlashPosition position;
  position.stage = stage_.load();
  position.blocksAcknowledged = acknowledged_.load();
  position.blockCount = blocks;
  return position;
}

void KeepLastWords(const FlashRecordEntry& entry, const TransferWatch& watch,
                   const TransferPlan& plan) {
  // Runs on the interrupt thread while this one carries on: it reads only the atomics of watch,
  // and ClearLastWords() waits for it before watch or plan go.
  SetLastWords([entry, &watch, &plan] {
    const FlashPosition position = watch.Position(entry.blocks);
    FlashRecordEntry last = entry;
    last.blocksAcknowledged = position.blocksAcknowledged;
    last.outcome = FlashOutcomeName(FlashOutcome::Cancelled);
    AppendToFlashRecord(last, [](const std::string& text) {
      std::cerr << "loadwing: warning: " << text << std::endl;
    });
    for (const std::string& line : TransferAdvice(FlashOutcome::Cancelled, position, plan)) {
      std::cerr << "loadwing: " << line << std::endl;
    }
  });
}

FlashRecordEntry NewRecordEntry(const TransferPlan& plan, const MachineLink& link,
                                std::int64_t startedUtc, const std::string& machine) {
  return RecordEntryFromPlan(plan,
                             RecordStart{LOADWING_CLI_NAME, link.Label(), machine, startedUtc});
}

void TransferReporter::Event(const char* kind, const std::string& text) {
  if (json_) {
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

void TransferReporter::Hints(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) Event("hint", line);
}

void TransferReporter::FileWarnings(const TransferPlan& plan, bool strict) {
  if (auto warning = AddressRecordWarning(plan)) Event("warning", *warning);
  if (!strict) {
    if (auto warning = BytesBeyondWarning(plan)) Event("warning", *warning);
  }
}

TransferRun RunTransfer(const TransferPlan& plan, MachineLink& link, TerminalStatusView& view,
                        TransferReporter& reporter, const std::string& machine) {
  TransferRun run;
  TransferWatch watch(view);
  FlashRecordEntry entry = NewRecordEntry(plan, link, std::time(nullptr), machine);
  // Said once: a record that refused the started line will most likely refuse the outcome too.
  bool warned = false;
  const auto warn = [&](const std::string& text) {
    if (!std::exchange(warned, true)) reporter.Event("warning", text);
  };
  // Before the first byte: a transfer killed on its way still leaves its start in the record.
  AppendToFlashRecord(entry, warn);
  KeepLastWords(entry, watch, plan);
  view.SetStatusText(plan.outcome.statusText);
  view.RefreshFields();
  view.Follow(&run.position);
  const double started = SteadySeconds();
  run.outcome = link.Transfer(plan, view, watch, &run.position);
  run.seconds = SteadySeconds() - started;
  view.Finish();
  view.Follow(nullptr);
  run.status = view.StatusText();
  watch.Recorder().Finish(run.outcome, run.status, entry);
  // The outcome line and the hints become the last words: a later interrupt arriving from here on
  // (the first one may have just ended the transfer) writes them and exits, or this thread does;
  // they are said once, never neither.
  SetLastWords([&, hints = TransferAdvice(run.outcome, run.position, plan)] {
    AppendToFlashRecord(entry, warn);
    reporter.Hints(hints);
  });
  SayLastWords();
  return run;
}

std::string TransferResultJson(const TransferPlan& plan, const char* outcome, int exitCode,
                               const std::string& status, const FlashPosition* position,
                               bool withController) {
  JsonObject json;
  json.Add("event", "result");
  if (withController) json.Add("controller", TargetName(plan.outcome.target));
  json.Add("outcome", outcome)
      .Add("exit", exitCode)
      .Add("status", status)
      .Add("target", TargetName(plan.outcome.target))
      .Add("bytes", plan.imageSize);
  if (position != nullptr) json.Add("blocksWritten", position->blocksAcknowledged);
  json.Add("fileSha256", plan.fileSha256)
      .Add("sentSha256", plan.sentSha256)
      .Add("bytesBeyond", plan.bytesBeyond);
  return json.str();
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
