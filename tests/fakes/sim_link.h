#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_d2xx.h"
#include "fakes/fake_serial_port.h"
#include "fakes/fake_status_view.h"
#include "flash/flash_transfer.h"
#include "link/connection.h"
#include "link/link_io.h"
#include "link/usb_link.h"
#include "sim/machine_simulator.h"

namespace loadwing::testing::sim_link {

// Own names, kept apart from other fixtures' helpers so that no two inline classes of one name
// meet in the test binary.

enum class SimLinkKind { Serial, Usb };

// The host's real link byte I/O over a fake serial port or a fake cable whose far end is the
// machine simulator: every write is fed to the machine and its answer queued for reading.
class SimLink {
 public:
  explicit SimLink(SimLinkKind kind, sim::SimulatorConfig config = {},
                   std::int64_t startMs = 1'700'000'000'000)
      : clock(startMs / 1000), machine(std::move(config)), kind_(kind) {
    clock.AdvanceMs(startMs % 1000);
    startMillis_ = clock.Millis();
    if (kind == SimLinkKind::Serial) {
      serial.open = true;
      connectionId = SerialConnection(3);
      serial.onWrite = [this](const std::uint8_t* data, std::uint32_t n) {
        const std::vector<std::uint8_t> answer = machine.Feed(data, n);
        serial.incoming.insert(serial.incoming.end(), answer.begin(), answer.end());
        if (afterFeed) afterFeed();
      };
    } else {
      UsbLink::ResetListedForTesting();
      d2xx.devices.push_back({kUsbCableDescription, {}, {}, false});
      d2xx.onWrite = [this](FakeD2xx::Device& device, const std::uint8_t* data, std::uint32_t n) {
        const std::vector<std::uint8_t> answer = machine.Feed(data, n);
        device.incoming.insert(device.incoming.end(), answer.begin(), answer.end());
        if (afterFeed) afterFeed();
      };
      usbOpened = usb.OpenByIndex(0, 38400, 0, 0, 8);
      connectionId = kUsbConnection;
    }
  }

  FlashOutcome Flash(const FirmwareImage& image) {
    return FlashTransfer(image, link, view, clock, &position);
  }
  // Every byte the host put on the line, in order.
  const std::vector<std::uint8_t>& Sent() const {
    return kind_ == SimLinkKind::Usb ? d2xx.devices.front().written : serial.sent;
  }
  std::int64_t ElapsedMs() const { return clock.Millis() - startMillis_; }

  FakeClock clock;
  FakeSerialPort serial{&clock};
  FakeD2xx d2xx{&clock};
  UsbLink usb{d2xx};
  bool usbOpened = false;
  FakeStatusView view;
  ConnectionId connectionId = kNoConnection;
  CancellationToken cancel;
  LinkIo link{connectionId, serial, usb, view, clock, &cancel};
  FlashPosition position;  // where the last Flash got to
  sim::MachineSimulator machine;
  std::function<void()> afterFeed;  // runs after the machine has answered a write

 private:
  SimLinkKind kind_;
  std::int64_t startMillis_ = 0;
};

// The machine simulator at the far end of a serial port the test already owns (a dialog's, say):
// every write is fed to the machine and its answer queued for reading. It detaches when it goes,
// so that a test can put a fresh machine on the same port.
class SimOnSerial {
 public:
  explicit SimOnSerial(FakeSerialPort& port, sim::SimulatorConfig config = {})
      : machine(std::move(config)), port_(port) {
    port_.onWrite = [this](const std::uint8_t* data, std::uint32_t n) {
      const std::vector<std::uint8_t> answer = machine.Feed(data, n);
      port_.incoming.insert(port_.incoming.end(), answer.begin(), answer.end());
      if (afterFeed) afterFeed();
    };
  }
  ~SimOnSerial() { port_.onWrite = nullptr; }
  SimOnSerial(const SimOnSerial&) = delete;
  SimOnSerial& operator=(const SimOnSerial&) = delete;

  // Blocks the machine accepted, over every transfer it saw.
  std::uint32_t BlocksReceived() const {
    const sim::SimulatorReport& report = machine.Report();
    std::uint32_t n = report.current ? report.current->blocksReceived : 0;
    for (const sim::TransferRecord& t : report.transfers) n += t.blocksReceived;
    return n;
  }

  sim::MachineSimulator machine;
  std::function<void()> afterFeed;  // runs after the machine has answered a write

 private:
  FakeSerialPort& port_;
};

// An image for target whose bytes all hold value.
inline FirmwareImage FilledImage(FirmwareTarget target, std::uint8_t value) {
  FirmwareImage image;
  image.data.fill(value);
  image.target = target;
  return image;
}

// An image whose bytes differ from block to block and within each, so that a lost, repeated or
// reordered block shows.
inline FirmwareImage PatternImage(FirmwareTarget target) {
  FirmwareImage image;
  std::uint32_t x = 0x12345678u;
  for (std::uint8_t& b : image.data) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  image.target = target;
  return image;
}

}  // namespace loadwing::testing::sim_link
