#include "cli/selftest_command.h"

#include <cstdio>

#include "cli/interrupt.h"
#include "cli/terminal_status_view.h"
#include "core/json.h"
#include "flash/block_frame.h"

namespace loadwing::cli {

namespace {

// Milliseconds with one decimal: "3.1".
std::string Ms(std::int64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(us) / 1000.0);
  return text;
}

// Whole milliseconds, rounded: "67".
std::string WholeMs(std::int64_t us) {
  return std::to_string((us + 500) / 1000);
}

std::string Hex(std::uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", b);
  return text;
}

}  // namespace

ExitCode ExitCodeFor(LoopbackVerdict verdict) {
  switch (verdict) {
    case LoopbackVerdict::Carries:
      return kExitCompleted;
    case LoopbackVerdict::NothingBack:
      return kExitLoopbackSilent;
    case LoopbackVerdict::BytesLost:
    case LoopbackVerdict::BytesChanged:
      return kExitLoopbackDamaged;
    case LoopbackVerdict::SlowDelivery:
      return kExitLoopbackSlow;
    case LoopbackVerdict::WriteFailed:
      return kExitWriteError;
  }
  return kExitLoopbackDamaged;
}

const char* LoopbackVerdictName(LoopbackVerdict verdict) {
  switch (verdict) {
    case LoopbackVerdict::Carries:
      return "carries";
    case LoopbackVerdict::NothingBack:
      return "nothing-back";
    case LoopbackVerdict::BytesLost:
      return "bytes-lost";
    case LoopbackVerdict::BytesChanged:
      return "bytes-changed";
    case LoopbackVerdict::SlowDelivery:
      return "slow-delivery";
    case LoopbackVerdict::WriteFailed:
      return "write-failed";
  }
  return "?";
}

std::vector<std::string> LoopbackVerdictText(const LoopbackReport& r, const std::string& label) {
  std::vector<std::string> lines;
  const std::string latency = Ms(r.latencyUs) + " ms latency";
  const std::string block = "a block would take about " + WholeMs(BlockEstimateUs(r)) +
                            " ms (line " + WholeMs(LineMicros(kBlockFrameSize)) + " ms + " +
                            WholeMs(r.drainUs) + " ms wait + " + WholeMs(r.latencyUs) +
                            " ms latency)";
  switch (r.verdict) {
    case LoopbackVerdict::Carries:
      lines.push_back("this adapter carries the machine's line: 38400 baud 8N1, " + latency + "; " +
                      block);
      break;
    case LoopbackVerdict::NothingBack:
      lines.push_back("nothing came back on " + label + ": is the loopback plug on (TX joined " +
                      "to RX: pins 2 and 3 of a DB9, or the cable's TX and RX wires), and is " +
                      "this the adapter's port?");
      break;
    case LoopbackVerdict::BytesLost:
      lines.push_back("bytes were lost: " + std::to_string(r.received) + " of " +
                      std::to_string(r.sent) + " bytes of the " + r.pattern + " came back on " +
                      label + ": check the wiring and the plug, and that no other program " +
                      "uses the port");
      break;
    case LoopbackVerdict::BytesChanged:
      lines.push_back("bytes were changed: byte " + std::to_string(r.offset) + " of the " +
                      r.pattern + " came back as " + Hex(r.got) + " instead of " + Hex(r.expected) +
                      " on " + label +
                      ": check the adapter's speed (38400 baud 8N1) and the wiring");
      break;
    case LoopbackVerdict::SlowDelivery:
      lines.push_back("this adapter holds received bytes back " + Ms(r.latencyUs) +
                      " ms, far above the line's own time; every block waits that long for "
                      "its answer: " +
                      block);
      lines.push_back(
          "an FTDI adapter's latency timer is 16 ms unless lowered: set it to 1 ms (Linux: "
          "echo 1 > /sys/bus/usb-serial/devices/ttyUSB0/latency_timer; Windows: Device "
          "Manager, the port's Properties, Port Settings, Advanced, Latency Timer)");
      break;
    case LoopbackVerdict::WriteFailed:
      lines.push_back(label + " refused to send: unplugged, or taken by the system");
      break;
  }
  if (r.verdict == LoopbackVerdict::Carries || r.verdict == LoopbackVerdict::SlowDelivery) {
    lines.push_back("frame of 257 bytes: round trip " + Ms(r.roundTripUs) + " ms; effective rate " +
                    std::to_string(static_cast<long long>(r.bytesPerSecond)) +
                    " bytes/s (the line: 3840)");
    if (r.fasterThanLine) {
      lines.push_back(
          "note: the bytes came back faster than 38400 baud allows: this is not a real serial "
          "line, or the adapter did not take the speed");
    }
  }
  return lines;
}

int RunSelftest(const SelftestOptions& options, std::ostream& out, std::ostream& err) {
  TerminalStatusView view(
      out, err, options.json ? TerminalStatusView::Mode::Json : TerminalStatusView::Mode::Lines);
  MachineLink link;
  std::vector<std::string> why;
  LinkOptions linkOptions;
  linkOptions.port = options.port;
  linkOptions.usb = options.usb;
  const LinkError linkError = link.Open(linkOptions, view, why);
  if (linkError != LinkError::None) {
    view.Finish();
    for (const std::string& line : why) {
      if (options.json) {
        out << JsonObject().Add("event", "hint").Add("text", line).str() << std::endl;
      } else {
        err << LOADWING_CLI_NAME ": " << line << std::endl;
      }
    }
    const ExitCode code = ExitCodeFor(linkError);
    if (options.json) {
      out << JsonObject().Add("event", "result").Add("verdict", "no-link").Add("exit", code).str()
          << std::endl;
    }
    return code;
  }
  SteadyFineClock clock;
  const LoopbackReport report = link.Loopback(view, clock);
  view.Finish();
  if (InterruptToken().Cancelled()) {
    // Stopped by the user: what did not come back says nothing about the adapter.
    if (options.json) {
      out << JsonObject()
                 .Add("event", "result")
                 .Add("verdict", "interrupted")
                 .Add("exit", kExitInterrupted)
                 .str()
          << std::endl;
    }
    return kExitInterrupted;
  }
  const ExitCode code = ExitCodeFor(report.verdict);
  const std::vector<std::string> lines = LoopbackVerdictText(report, link.Label());
  if (options.json) {
    JsonObject result;
    result.Add("event", "result")
        .Add("verdict", LoopbackVerdictName(report.verdict))
        .Add("exit", code)
        .Add("text", lines.front())
        .Add("latency_us", report.latencyUs)
        .Add("round_trip_us", report.roundTripUs)
        .Add("drain_us", report.drainUs)
        .Add("bytes_per_second", static_cast<std::int64_t>(report.bytesPerSecond))
        .Add("block_estimate_us", BlockEstimateUs(report))
        .Add("faster_than_line", report.fasterThanLine);
    if (!report.pattern.empty()) {
      result.Add("pattern", report.pattern)
          .Add("sent", report.sent)
          .Add("received", report.received);
    }
    out << result.str() << std::endl;
  } else {
    for (const std::string& line : lines) {
      if (code == kExitCompleted) {
        out << line << std::endl;
      } else {
        err << LOADWING_CLI_NAME ": " << line << std::endl;
      }
    }
  }
  return code;
}

}  // namespace loadwing::cli
