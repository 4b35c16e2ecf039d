#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_d2xx.h"
#include "fakes/fake_serial_port.h"
#include "fakes/fake_status_view.h"
#include "link/connection.h"
#include "link/link_io.h"
#include "link/link_trace.h"
#include "link/usb_link.h"

namespace loadwing::testing {

// The far end of a fake serial port or cable that answers what the host writes, each answer when
// its delay on the fake clock has passed (delivered at the host's next read or queue poll).
class DelayedFarEnd {
 public:
  struct Answer {
    std::int64_t delayUs = 0;
    std::vector<std::uint8_t> bytes;
  };
  using Respond = std::function<std::vector<Answer>(const std::uint8_t*, std::uint32_t)>;

  DelayedFarEnd(FakeClock& clock, Respond respond) : clock_(clock), respond_(std::move(respond)) {}

  void Attach(FakeSerialPort& port) {
    port.onWrite = [this](const std::uint8_t* data, std::uint32_t n) { Take(data, n); };
    port.onRead = [this, &port] { Deliver(port.incoming); };
  }
  void Attach(FakeD2xx& d2xx) {
    d2xx.onWrite = [this](FakeD2xx::Device&, const std::uint8_t* data, std::uint32_t n) {
      Take(data, n);
    };
    d2xx.onQueueStatus = [this, &d2xx] {
      if (!d2xx.devices.empty()) Deliver(d2xx.devices.front().incoming);
    };
  }

 private:
  void Take(const std::uint8_t* data, std::uint32_t n) {
    for (Answer& answer : respond_(data, n)) {
      std::int64_t due = clock_.NowMicros() + answer.delayUs;
      if (!pending_.empty()) due = std::max(due, pending_.back().first);
      pending_.emplace_back(due, std::move(answer.bytes));
    }
  }
  void Deliver(std::deque<std::uint8_t>& incoming) {
    while (!pending_.empty() && pending_.front().first <= clock_.NowMicros()) {
      incoming.insert(incoming.end(), pending_.front().second.begin(),
                      pending_.front().second.end());
      pending_.pop_front();
    }
  }

  FakeClock& clock_;
  Respond respond_;
  std::deque<std::pair<std::int64_t, std::vector<std::uint8_t>>> pending_;
};

// The host's real link byte I/O over a fake serial port (or, with usb, a fake cable, opened)
// whose far end answers through respond, delayed on the fake clock.
struct FarEndLink {
  FarEndLink(DelayedFarEnd::Respond respond, bool usb = false) : end(clock, std::move(respond)) {
    if (usb) {
      UsbLink::ResetListedForTesting();
      d2xx.devices.push_back({kUsbCableDescription, {}, {}, false});
      cableOpened = cable.OpenByIndex(0, 38400, 0, 0, 8);
      id = kUsbConnection;
      end.Attach(d2xx);
    } else {
      serial.open = true;
      end.Attach(serial);
    }
  }
  // Every byte the host put on the line, in order.
  const std::vector<std::uint8_t>& Sent() const {
    return id == kUsbConnection ? d2xx.devices.front().written : serial.sent;
  }

  FakeClock clock;
  FakeSerialPort serial{&clock};
  FakeD2xx d2xx{&clock};
  UsbLink cable{d2xx};
  bool cableOpened = false;
  FakeStatusView view;
  ConnectionId id = SerialConnection(3);
  LinkIo link{id, serial, cable, view, clock};
  DelayedFarEnd end;
};

// Keeps trace lines in memory; fails every line once `fail` is set.
class StringTraceSink final : public TraceSink {
 public:
  bool WriteLine(std::string_view line) override {
    if (fail) return false;
    text += line;
    return true;
  }
  std::string text;
  bool fail = false;
};

}  // namespace loadwing::testing
