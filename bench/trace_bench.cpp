// What --trace costs: one WebC transfer (512 blocks) over the fake serial port and the fake cable
// into the in-process simulated machine, whose time is simulated, so that the real time measured
// is the host's own work. Once untraced, once traced into a new file beside TMPDIR; the
// difference is set against the line time of the frames and acknowledgements at 38400 baud
// (34.4 s; the whole transfer takes about 42 s). Untraced, the link has no trace decorator at
// all, so off costs nothing by construction.
//
// Usage: trace_bench [REPS]
// Prints one line per link: key=value pairs, for bench/run.sh.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_image.h"
#include "cli/trace_file.h"
#include "fakes/sim_link.h"
#include "link/link_trace.h"

using namespace loadwing;
using testing::sim_link::SimLink;
using testing::sim_link::SimLinkKind;

namespace {

double Run(SimLinkKind kind, const FirmwareImage& image, const std::string& tracePath) {
  SimLink sim(kind);
  std::string error;
  std::unique_ptr<cli::TraceFile> file;
  SteadyFineClock clock;
  std::unique_ptr<LinkTrace> trace;
  std::unique_ptr<TracingSerialPort> serial;
  std::unique_ptr<TracingD2xx> d2xx;
  std::unique_ptr<UsbLink> cable;
  SerialPort* port = &sim.serial;
  UsbLink* usb = &sim.usb;
  if (!tracePath.empty()) {
    file = cli::TraceFile::Create(tracePath, true, error);
    if (!file) {
      std::fprintf(stderr, "trace_bench: %s: %s\n", tracePath.c_str(), error.c_str());
      std::exit(1);
    }
    trace = std::make_unique<LinkTrace>(*file, clock);
    serial = std::make_unique<TracingSerialPort>(sim.serial, *trace);
    d2xx = std::make_unique<TracingD2xx>(sim.d2xx, *trace);
    if (kind == SimLinkKind::Usb) {
      sim.usb.Close();
      cable = std::make_unique<UsbLink>(*d2xx);
      if (!cable->OpenByIndex(0, 38400, 0, 0, 8)) {
        std::fprintf(stderr, "trace_bench: the simulated cable did not open\n");
        std::exit(1);
      }
      usb = cable.get();
    }
    port = serial.get();
  }
  LinkIo link(sim.connectionId, *port, *usb, sim.view, sim.clock);
  const auto start = std::chrono::steady_clock::now();
  const FlashOutcome outcome = FlashTransfer(image, link, sim.view, sim.clock);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (outcome != FlashOutcome::Completed) {
    std::fprintf(stderr, "trace_bench: the transfer did not complete\n");
    std::exit(1);
  }
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  FirmwareImage image;
  bench::FillBenchImage(image, "webc");
  const char* tmp = std::getenv("TMPDIR");
  const std::string path =
      std::string(tmp ? tmp : "/tmp") + "/trace_bench." + std::to_string(getpid()) + ".trace";
  const double lineSeconds = 512 * 258 * 10 / 38400.0;
  for (SimLinkKind kind : {SimLinkKind::Serial, SimLinkKind::Usb}) {
    std::vector<double> off, on;
    long bytes = 0;
    for (int i = 0; i < reps; ++i) {
      off.push_back(Run(kind, image, ""));
      on.push_back(Run(kind, image, path));
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f) {
      std::fseek(f, 0, SEEK_END);
      bytes = std::ftell(f);
      std::fclose(f);
    }
    const double cost = Median(on) - Median(off);
    std::printf(
        "link=%s untraced_ms=%.1f traced_ms=%.1f trace_bytes=%ld line_s=%.2f "
        "cost_pct_of_line=%.3f\n",
        kind == SimLinkKind::Usb ? "usb" : "serial", Median(off) * 1e3, Median(on) * 1e3, bytes,
        lineSeconds, 100.0 * cost / lineSeconds);
  }
  std::remove(path.c_str());
  return 0;
}
