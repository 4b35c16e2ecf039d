// One real transfer over a pseudo-terminal into the simulated machine, paced at the line's baud
// rate, timed block by block on the host's side. What a block costs beyond the line (its 257-byte
// frame and the 1-byte acknowledgement at 10 bits a byte, plus the drain's one 15 ms read limit)
// is the host's overhead. CPU time is the host thread's own; the simulator runs in another.
//
// Usage: flash_bench TARGET [BAUD]   (TARGET: module, main, webc)
// Prints one line: key=value pairs, for bench/run.sh.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_image.h"
#include "core/clock.h"
#include "fakes/fake_d2xx.h"
#include "fakes/fake_status_view.h"
#include "flash/flash_transfer.h"
#include "link/connection.h"
#include "link/link_connect.h"
#include "link/link_io.h"
#include "link/posix_serial_port.h"
#include "link/usb_link.h"
#include "sim/machine_simulator.h"
#include "sim/pty_simulator.h"

using namespace loadwing;
using SteadyClock = std::chrono::steady_clock;

namespace {

// The real port, with the time spent waiting inside reads added up: what a block costs outside
// them is the host's own work (building the frame, the check byte, the write calls, the view).
class TimedPort final : public SerialPort {
 public:
  explicit TimedPort(SerialPort& inner) : inner_(inner) {}
  bool Open(const std::string& path) override { return inner_.Open(path); }
  bool SetCommState(const SerialLineSettings& s) override { return inner_.SetCommState(s); }
  bool SetCommTimeouts(const SerialTimeouts& t) override { return inner_.SetCommTimeouts(t); }
  bool SetupComm(std::uint32_t in, std::uint32_t out) override { return inner_.SetupComm(in, out); }
  bool Purge() override { return inner_.Purge(); }
  bool Read(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& got) override {
    const auto start = SteadyClock::now();
    const bool ok = inner_.Read(buffer, n, got);
    readWait += SteadyClock::now() - start;
    return ok;
  }
  bool Write(const std::uint8_t* data, std::uint32_t n, std::uint32_t& written) override {
    return inner_.Write(data, n, written);
  }
  void Close() override { inner_.Close(); }
  bool IsOpen() const override { return inner_.IsOpen(); }

  SteadyClock::duration readWait{};

 private:
  SerialPort& inner_;
};

// A time mark: when, and how long the reads had waited until then.
struct Mark {
  SteadyClock::time_point at;
  SteadyClock::duration readWait;
};

double ThreadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Ms(SteadyClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: flash_bench module|main|webc [BAUD]\n");
    return 2;
  }
  const std::string which = argv[1];
  const std::uint32_t baud = argc > 2 ? static_cast<std::uint32_t>(std::stoul(argv[2])) : 38400;
  FirmwareImage image;
  bench::FillBenchImage(image, which);
  const std::uint32_t blocks = FindFlashTargetInfo(image.target)->imageSize / 256;

  sim::SimulatorConfig config;
  config.baudRate = baud;
  sim::PtySimulator simulator;
  if (!simulator.Start(config)) {
    std::fprintf(stderr, "flash_bench: %s\n", simulator.Error().c_str());
    return 1;
  }
  PosixSerialPort posixPort;
  TimedPort port(posixPort);
  if (const LinkError error = ConnectSerialPort(port, simulator.DevicePath());
      error != LinkError::None) {
    std::fprintf(stderr, "flash_bench: %s\n", LinkErrorText(error));
    return 1;
  }
  ConnectionId connectionId = SerialConnection(1);
  testing::FakeD2xx d2xx;  // no cable here
  UsbLink usb(d2xx);
  SystemClock clock;
  // The transfer shows the status line once at the start of the block phase and once after each
  // acknowledgement: the marks time the blocks.
  testing::FakeStatusView view;
  std::vector<Mark> marks;
  view.onRefresh = [&] {
    if (view.statusText == " flash: start...") marks.push_back({SteadyClock::now(), port.readWait});
  };
  LinkIo link(connectionId, port, usb, view, clock);

  const double cpuBefore = ThreadCpuSeconds();
  const auto start = SteadyClock::now();
  const FlashOutcome outcome = FlashTransfer(image, link, view, clock);
  const auto end = SteadyClock::now();
  const double cpu = ThreadCpuSeconds() - cpuBefore;
  simulator.Stop();
  if (outcome != FlashOutcome::Completed || marks.size() != blocks + 1) {
    std::fprintf(stderr, "flash_bench: transfer did not complete (%zu marks)\n", marks.size());
    return 1;
  }

  // The line's own time for one block: frame and acknowledgement, plus the drain's read limit.
  constexpr double kDrainMs = 15.0;
  const double blockLineMs = (257.0 + 1.0) * 10.0 * 1000.0 / baud + kDrainMs;
  std::vector<double> beyondLine;  // a block's time beyond the line's own
  std::vector<double> host;        // a block's time outside the reads' waits
  for (std::size_t i = 1; i < marks.size(); ++i) {
    const auto block = marks[i].at - marks[i - 1].at;
    beyondLine.push_back(Ms(block) - blockLineMs);
    host.push_back(Ms(block - (marks[i].readWait - marks[i - 1].readWait)));
  }
  std::sort(beyondLine.begin(), beyondLine.end());
  std::sort(host.begin(), host.end());
  const double wallMs = Ms(end - start);
  std::printf(
      "target=%s blocks=%u wall_ms=%.1f block_line_ms=%.3f beyond_line_median_ms=%.3f "
      "beyond_line_max_ms=%.3f host_median_ms=%.3f host_max_ms=%.3f cpu_ms=%.1f cpu_pct=%.2f\n",
      which.c_str(), blocks, wallMs, blockLineMs, beyondLine[beyondLine.size() / 2],
      beyondLine.back(), host[host.size() / 2], host.back(), cpu * 1000.0,
      100.0 * cpu * 1000.0 / wallMs);
  return 0;
}
