// loadwing-sim: the folding machine's side of the flashing dialogue on a pseudo-terminal or a
// serial device, for trying the loader without a machine.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <atomic>
#include <optional>

#include "cli/command_table.h"
#include "cli/terminal_text.h"
#include "sim/pty_simulator.h"
#include "sim/replay_runner.h"

namespace {

// Every message names the program and shows outside text (paths, option values, errors that
// quote them) as printable characters only.
void Say(const std::string& text) {
  std::cerr << "loadwing-sim: " << loadwing::cli::TerminalText(text) << "\n";
}

volatile std::sig_atomic_t gStop = 0;
// The same for the replay, whose runner takes an atomic (lock-free, so safe in a handler).
std::atomic<bool> gStopReplay{false};
void OnSignal(int) {
  gStop = 1;
  gStopReplay = true;
}

// Plays the machine's side of a recorded trace; 0 when the loader did all the trace shows,
// 3 where it departed from it, 1 when the trace or the line failed.
int RunReplay(const std::string& tracePath, const std::string& device) {
  using namespace loadwing::sim;
  std::string error;
  const std::optional<ReplayScript> script = LoadTrace(tracePath, error);
  if (!script) {
    Say(error);
    return 1;
  }
  SimLine line;
  if (!OpenSimLine(device, 0, line, error)) {
    Say(error);
    return 1;
  }
  std::cout << "device: " << line.devicePath << std::endl;
  const ReplayOutcome outcome = ServeReplay(*script, line.lineFd, gStopReplay);
  close(line.lineFd);
  if (line.holdFd >= 0) close(line.holdFd);
  if (!outcome.error.empty()) {
    Say(outcome.error);
    return 1;
  }
  if (outcome.mismatch) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "replay: the loader sent 0x%02X where the trace shows 0x%02X (trace line %u)",
                  outcome.mismatch->got, outcome.mismatch->expected, outcome.mismatch->line);
    std::cout << text << std::endl;
    return 3;
  }
  if (!outcome.finished) {
    std::cout << "replay: stopped before the end of the trace" << std::endl;
    return 3;
  }
  if (outcome.surplus > 0) {
    std::cout << "replay: the loader sent " << outcome.surplus << " bytes more than the trace shows"
              << std::endl;
    return 3;
  }
  std::cout << "replay: the loader did all the trace shows (" << script->steps.size()
            << " exchanges)" << std::endl;
  return 0;
}

const std::map<std::string, loadwing::FirmwareTarget>& Targets() {
  using loadwing::FirmwareTarget;
  static const std::map<std::string, FirmwareTarget> targets = {
      {"128", FirmwareTarget::WebC},      {"064", FirmwareTarget::FanfolderCrossfolder},
      {"MO0", FirmwareTarget::Module0},   {"MO1", FirmwareTarget::Module1},
      {"MO2", FirmwareTarget::Module2},   {"MO3", FirmwareTarget::Module3},
      {"MO4", FirmwareTarget::Module4},   {"MO5", FirmwareTarget::Module5},
      {"MO6", FirmwareTarget::Module6},   {"MO7", FirmwareTarget::Module7},
      {"CAN", FirmwareTarget::CanModule},
  };
  return targets;
}

// A byte given as hexadecimal ("0A", "0x30").
bool ParseByte(const std::string& text, std::uint8_t& out) {
  try {
    std::size_t used = 0;
    const unsigned long value = std::stoul(text, &used, 16);
    if (used != text.size() || value > 0xFF) return false;
    out = static_cast<std::uint8_t>(value);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Control characters are shown as \xNN so that a machine's answer cannot steer the terminal.
std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

const char* EndName(loadwing::sim::TransferEnd end) {
  using loadwing::sim::TransferEnd;
  switch (end) {
    case TransferEnd::Verdict:
      return "verdict";
    case TransferEnd::Refused:
      return "refused";
    case TransferEnd::BadSum:
      return "bad sum";
    case TransferEnd::Interrupted:
      return "interrupted";
  }
  return "?";
}

void PrintTransfer(std::size_t number, const loadwing::sim::TransferRecord& r) {
  char check[96] = "check byte: none";
  if (r.checkByteReceived) {
    std::snprintf(check, sizeof check, "check byte 0x%02X (own 0x%02X) %s", r.checkByte,
                  r.computedCheckByte, r.checkByteMatched ? "matched" : "MISMATCH");
  }
  std::cout << "transfer " << number << ": target " << r.requestCode << ", blocks "
            << r.blocksReceived << "/" << r.blocksExpected << ", " << check << ", verdict "
            << (r.verdictSent.empty() ? std::string("none") : Printable(r.verdictSent)) << ", end "
            << EndName(r.end) << std::endl;
}

// Written beside and renamed, so that a reader never sees half an image.
bool SaveImage(const std::string& path, const std::vector<std::uint8_t>& image) {
  const std::string partial = path + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out) return false;
  }
  return std::rename(partial.c_str(), path.c_str()) == 0;
}

// One line a LineEvent: "SECONDS in|out BYTES", SECONDS on CLOCK_MONOTONIC (the clock of
// Python's time.monotonic()), so that a script can set the machine's moments beside its own.
bool SaveTimeline(const std::string& path, const std::vector<loadwing::sim::LineEvent>& events) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) return false;
  std::fprintf(out, "# loadwing-sim line timeline: monotonic seconds, in|out, bytes\n");
  for (const loadwing::sim::LineEvent& e : events) {
    std::fprintf(out, "%lld.%09lld %s %u\n", static_cast<long long>(e.monotonicNs / 1000000000),
                 static_cast<long long>(e.monotonicNs % 1000000000), e.in ? "in" : "out", e.bytes);
  }
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace loadwing::sim;
  loadwing::cli::ProgramOptions program(
      "loadwing-sim", "Simulates the folding machine's side of the flashing dialogue.",
      "loadwing-sim " LOADWING_VERSION);
  loadwing::cli::Options app = program.options();
  std::string device;
  std::string target = "any";
  std::string request = "ready";
  std::string eraseCode = "0A";
  std::string eraseChar = "X";
  bool eraseShort = false;
  std::string unexpected = "?";
  std::uint32_t unexpectedCount = 0;
  std::int64_t refuseBlock = -1;
  std::string refuseByte = "30";
  std::string badSumByte = "30";
  std::string verdict = "auto";
  std::string verdictText;
  std::uint32_t baud = 0;
  std::uint32_t transfers = 0;
  std::string saveImage;
  std::string timing;

  app.Add("--device", device, "serial device to serve (default: create a pty)");
  app.Add("--target", target, "controller to answer for: any, 128, 064, MO0..MO7, CAN");
  app.Add("--request", request, "answer to the request: ready, erase, unexpected, silent");
  app.Add("--erase-code", eraseCode, "erase error code byte, hexadecimal");
  app.Add("--erase-char", eraseChar, "erase error character");
  app.Flag("--erase-short", eraseShort, "erase error answer of the prefix only");
  app.Add("--unexpected", unexpected, "the unexpected answer text");
  app.Add("--unexpected-count", unexpectedCount,
          "answer unexpectedly this many times, then ready (0: always)");
  app.Add("--refuse-block", refuseBlock, "0-based block to refuse")
      .Check(loadwing::cli::WholeNumber(0, 65535));
  app.Add("--refuse-byte", refuseByte, "answer to the refused block, hex, or 'silent'");
  app.Add("--bad-sum-byte", badSumByte, "answer to a frame with a wrong sum, hex");
  app.Add("--verdict", verdict, "verdict: auto (SUCCES/CSFAIL), silent, or any other text");
  app.Add("--baud", baud, "pace the line at this baud rate (10 bits a byte)");
  app.Add("--transfers", transfers, "exit after this many transfers (0: run until killed)");
  app.Add("--save-image", saveImage,
          "write the bytes of the accepted blocks to this file after each transfer");
  app.Add("--timing", timing,
          "at exit, write one line per piece read from the line (when it came) and per "
          "answer (when written): 'MONOTONIC_SECONDS in|out BYTES'");
  std::string replay;
  app.Add("--replay", replay,
          "play the machine's side of a trace written by loadwing --trace, and say where "
          "the loader departs from it (the answers options are not used)");
  // Option errors end with 2, as do the values refused below.
  if (const std::optional<int> exit = program.Parse(argc, argv, std::cout, std::cerr, 2)) {
    return *exit;
  }
  if (!replay.empty()) {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    return RunReplay(replay, device);
  }

  SimulatorConfig config;
  if (target != "any") {
    const auto it = Targets().find(target);
    if (it == Targets().end()) {
      Say("unknown target " + target);
      return 2;
    }
    config.target = it->second;
  }
  const std::map<std::string, RequestReply> replies = {{"ready", RequestReply::Ready},
                                                       {"erase", RequestReply::EraseError},
                                                       {"unexpected", RequestReply::Unexpected},
                                                       {"silent", RequestReply::Silent}};
  const auto reply = replies.find(request);
  if (reply == replies.end()) {
    Say("unknown --request " + request);
    return 2;
  }
  config.request = reply->second;
  std::uint8_t code = 0;
  if (!ParseByte(eraseCode, code) || eraseChar.size() > 1) {
    Say("--erase-code takes a hex byte, --erase-char one character");
    return 2;
  }
  config.eraseDetail =
      eraseShort ? std::string() : std::string(1, static_cast<char>(code)) + eraseChar;
  config.unexpectedAnswer = unexpected;
  config.unexpectedCount = unexpectedCount;
  if (refuseBlock >= 0) config.refuseBlock = static_cast<std::uint32_t>(refuseBlock);
  std::uint8_t byte = 0;
  if (refuseByte == "silent") {
    config.refuseByte.reset();
  } else if (ParseByte(refuseByte, byte)) {
    config.refuseByte = byte;
  } else {
    Say("--refuse-byte takes a hex byte or 'silent'");
    return 2;
  }
  if (!ParseByte(badSumByte, config.badSumByte)) {
    Say("--bad-sum-byte takes a hex byte");
    return 2;
  }
  if (verdict == "auto") {
    config.verdict = VerdictReply::Auto;
  } else if (verdict == "silent") {
    config.verdict = VerdictReply::Silent;
  } else {
    config.verdict = VerdictReply::Text;
    config.verdictText = verdict;
  }
  config.baudRate = baud;

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  PtySimulator simulator;
  simulator.KeepTimeline(!timing.empty());
  if (!simulator.Start(config, device)) {
    Say(simulator.Error());
    return 1;
  }
  std::cout << "device: " << simulator.DevicePath() << std::endl;

  std::size_t printed = 0;
  int status = 0;
  while (!gStop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const SimulatorReport report = simulator.Report();
    // Saved before the transfer's line is printed: whoever waits for the line finds the file.
    if (!saveImage.empty() && printed < report.transfers.size() &&
        !SaveImage(saveImage, report.image)) {
      Say("cannot write " + saveImage);
    }
    for (; printed < report.transfers.size(); ++printed)
      PrintTransfer(printed + 1, report.transfers[printed]);
    if (transfers != 0 && printed >= transfers) {
      // Closing the pty at once would drop the verdict before the host has read it.
      std::this_thread::sleep_for(std::chrono::seconds(1));
      break;
    }
    if (!simulator.Running()) {
      Say(simulator.Error());
      status = 1;
      break;
    }
  }
  simulator.Stop();
  if (!timing.empty() && !SaveTimeline(timing, simulator.Timeline())) {
    Say("cannot write " + timing);
    status = 1;
  }
  return status;
}
