#pragma once
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/link_faults.h"
#include "link/serial_port.h"

namespace loadwing::testing {

// A serial port whose far end is the test: bytes the machine sent wait in `incoming`, every
// call is recorded, and each step can be made to fail. A read on a silent line costs what the
// real one costs (15 ms) on the fake clock, so waits bounded by the clock end. `faults` fails
// single reads and writes the way a real link does.
class FakeSerialPort final : public SerialPort {
 public:
  explicit FakeSerialPort(FakeClock* clock = nullptr) : clock_(clock) {}

  bool Open(const std::string& devicePath) override {
    calls.push_back("Open " + devicePath);
    openedPath = devicePath;
    if (failOpen) return false;
    open = true;
    return true;
  }
  bool SetCommState(const SerialLineSettings& settings) override {
    calls.push_back("SetCommState");
    lineSettings = settings;
    return !failCommState;
  }
  bool SetCommTimeouts(const SerialTimeouts& limits) override {
    calls.push_back("SetCommTimeouts");
    timeouts = limits;
    return !failTimeouts;
  }
  bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override {
    calls.push_back("SetupComm " + std::to_string(inQueue) + " " + std::to_string(outQueue));
    return !failSetupComm;
  }
  bool Purge() override {
    calls.push_back("Purge");
    if (faults.Before(LinkCall::Purge, 0) == LinkFault::Fail) {
      return faults.After(LinkCall::Purge, false, 0);
    }
    incoming.clear();
    return faults.After(LinkCall::Purge, true, 0);
  }
  bool Read(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& got) override {
    ++reads;
    if (onRead) onRead();
    got = 0;
    const LinkFault fault = faults.Before(LinkCall::Read, n);
    if (fault == LinkFault::Close) Close();
    if (failRead || !open || fault == LinkFault::Fail) {
      Charge(silentReadCostMs);
      return faults.After(LinkCall::Read, false, 0);
    }
    while (fault != LinkFault::Silence && got < n && !incoming.empty()) {
      buffer[got++] = incoming.front();
      incoming.pop_front();
    }
    if (got == 0) Charge(silentReadCostMs);
    if (fault == LinkFault::Garbage && n > 0) {
      buffer[0] = faults.garbage;
      got = std::max<std::uint32_t>(got, 1);
    }
    return faults.After(LinkCall::Read, true, got);
  }
  bool Write(const std::uint8_t* data, std::uint32_t n, std::uint32_t& written) override {
    written = 0;
    writeSizes.push_back(n);
    const LinkFault fault = faults.Before(LinkCall::Write, n);
    if (fault == LinkFault::Close) Close();
    if (failWrite || !open || fault == LinkFault::Fail) {
      return faults.After(LinkCall::Write, false, 0);
    }
    written = std::min(n, fault == LinkFault::Partial ? faults.partialBytes : maxBytesPerWrite);
    sent.insert(sent.end(), data, data + written);
    if (onWrite) onWrite(data, written);
    return faults.After(LinkCall::Write, true, written);
  }
  void Close() override {
    calls.push_back("Close");
    open = false;
  }
  bool IsOpen() const override { return open; }

  // Machine side.
  void Receive(const std::string& bytes) {
    incoming.insert(incoming.end(), bytes.begin(), bytes.end());
  }

  std::deque<std::uint8_t> incoming;
  std::vector<std::uint8_t> sent;         // every byte written, in order
  std::vector<std::uint32_t> writeSizes;  // the size offered to each Write call
  std::vector<std::string> calls;         // Open/SetCommState/.../Purge/Close, in order
  std::string openedPath;
  SerialLineSettings lineSettings;
  SerialTimeouts timeouts;
  int reads = 0;
  bool open = false;
  bool failOpen = false, failCommState = false, failTimeouts = false, failSetupComm = false;
  bool failWrite = false, failRead = false;
  std::uint32_t maxBytesPerWrite = 0xFFFFFFFFu;  // fewer: partial writes
  int silentReadCostMs = 15;
  std::function<void(const std::uint8_t*, std::uint32_t)> onWrite;
  std::function<void()> onRead;
  LinkFaults faults;

 private:
  void Charge(int ms) {
    if (clock_) clock_->AdvanceMs(ms);
  }
  FakeClock* clock_;
};

}  // namespace loadwing::testing
