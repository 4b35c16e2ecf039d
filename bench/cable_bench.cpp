// One transfer over the Linux cable layer (LibFtdiD2xx) into the simulated machine, with the
// stand-in libftdi of the tests in place of the real one: a modelled FT232R (62 data bytes per
// 64-byte packet, 16 ms latency timer) on a 38400-baud line, in the stand-in's simulated time.
// Per block it prints what the transfer took against the line's own time for the 257-byte frame
// and its 1-byte acknowledgement (10 bits a byte) plus one latency period.
//
// Usage: cable_bench [module|main|webc]
// Prints one line: key=value pairs, for bench/run.sh.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_image.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_serial_port.h"
#include "fakes/ftdi_standin/ftdi_standin.h"
#include "flash/flash_transfer.h"
#include "link/connection.h"
#include "link/libftdi_d2xx.h"
#include "link/link_io.h"
#include "link/port_discovery.h"
#include "link/usb_link.h"
#include "sim/machine_simulator.h"

using namespace loadwing;

namespace {

constexpr double kLatencyMs = 16.0;

struct Bench {
  testing::FtdiStandin standin;
  testing::FakeClock clock;
  std::int64_t mirroredMs = 0;
  sim::MachineSimulator machine;
  int device = 0;
};

// The stand-in's time at the start of the block phase and after each acknowledgement: the
// transfer shows " flash: start..." at each of those moments.
class TimingView final : public StatusView {
 public:
  explicit TimingView(Bench& bench) : bench_(bench) {}
  void SetStatusText(std::string text) override { text_ = std::move(text); }
  const std::string& StatusText() const override { return text_; }
  void RefreshFields() override {
    if (text_ == " flash: start...") marksUs.push_back(bench_.standin.nowUs());
  }
  void UpdateNow() override {}
  void SetProgressRange(std::uint32_t) override {}
  void SetProgressPos(std::int32_t) override {}
  void EnableControls(bool) override {}
  void PumpMessages() override {}

  std::vector<std::uint64_t> marksUs;

 private:
  Bench& bench_;
  std::string text_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string which = argc > 1 ? argv[1] : "module";
  FirmwareImage image;
  bench::FillBenchImage(image, which);

  Bench bench;
  if (!bench.standin.Load(LOADWING_FTDI_STANDIN)) {
    std::fprintf(stderr, "cable_bench: cannot load %s\n", LOADWING_FTDI_STANDIN);
    return 1;
  }
  bench.standin.reset();
  bench.standin.setClockHook(
      [](void* user, std::uint64_t nowUs) {
        auto* b = static_cast<Bench*>(user);
        b->clock.AdvanceMs(static_cast<std::int64_t>(nowUs / 1000) - b->mirroredMs);
        b->mirroredMs = static_cast<std::int64_t>(nowUs / 1000);
      },
      &bench);
  bench.device = bench.standin.addDevice(kUsbCableDescription, 0);
  bench.standin.setFarEnd(
      [](void* user, int device, const std::uint8_t* bytes, std::size_t n) {
        auto* b = static_cast<Bench*>(user);
        const std::vector<std::uint8_t> answer = b->machine.Feed(bytes, n);
        if (!answer.empty()) b->standin.lineSend(device, answer.data(), answer.size());
      },
      &bench);

  LibFtdiD2xx d2xx({LOADWING_FTDI_STANDIN, LOADWING_FTDI_STANDIN});
  UsbLink cable(d2xx);
  if (!cable.OpenByDescription(kUsbCableDescription, 38400, 0, 0, 8)) {
    std::fprintf(stderr, "cable_bench: the stand-in cable did not open\n");
    return 1;
  }
  testing::FakeSerialPort serial;
  TimingView view(bench);
  const ConnectionId usb = kUsbConnection;
  LinkIo io(usb, serial, cable, view, bench.clock);
  const FlashOutcome outcome = FlashTransfer(image, io, view, bench.clock);

  std::vector<double> blockMs;
  for (std::size_t i = 1; i < view.marksUs.size(); ++i) {
    blockMs.push_back(static_cast<double>(view.marksUs[i] - view.marksUs[i - 1]) / 1000.0);
  }
  if (blockMs.empty()) {
    std::fprintf(stderr, "cable_bench: no block was acknowledged (%s)\n",
                 view.StatusText().c_str());
    return 1;
  }
  std::vector<double> sorted = blockMs;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0;
  for (double ms : blockMs) sum += ms;
  const double lineMs = (257 + 1) * 10 * 1000.0 / 38400;
  std::printf(
      "target=%s completed=%d blocks=%zu usb_reads=%llu block_ms_median=%.3f block_ms_mean=%.3f "
      "block_ms_max=%.3f line_ms=%.3f goal_ms=%.3f\n",
      which.c_str(), outcome == FlashOutcome::Completed ? 1 : 0, blockMs.size(),
      static_cast<unsigned long long>(bench.standin.usbReads(bench.device)),
      sorted[sorted.size() / 2], sum / static_cast<double>(blockMs.size()), sorted.back(), lineMs,
      lineMs + kLatencyMs + 1.0);
  return outcome == FlashOutcome::Completed ? 0 : 1;
}
