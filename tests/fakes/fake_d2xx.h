#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/link_faults.h"
#include "link/d2xx.h"

namespace loadwing::testing {

// Scripted FTDI devices behind the D2XX table. Each device has a description, the bytes it has
// received for the host (`incoming`) and what the host wrote. Every call is recorded as text
// ("ListDevices count", "ListDevices all", "Open 0", "SetBaudRate 38400",
// "SetDataCharacteristics 8 0 0", "Close", "Write 3", "GetQueueStatus", "Read 5") and each can
// be made to fail or to misbehave, and `faults` fails single reads and writes the way a real
// link does. An empty queue poll costs 1 ms on the fake clock, so waits end.
class FakeD2xx final : public D2xx {
 public:
  struct Device {
    std::string description;
    std::deque<std::uint8_t> incoming;
    std::vector<std::uint8_t> written;
    bool open = false;
  };

  explicit FakeD2xx(FakeClock* clock = nullptr) : clock_(clock) {}

  FtStatus ListDevices(void* arg1, void* arg2, std::uint32_t flags) override {
    if (flags == kFtListNumberOnly) {
      Log("ListDevices count");
      if (countStatus != kFtOk) return countStatus;
      *static_cast<std::uint32_t*>(arg1) =
          reportedCount.value_or(static_cast<std::uint32_t>(devices.size()));
      return kFtOk;
    }
    Log("ListDevices all");
    lastListFlags = flags;
    if (listStatus != kFtOk) return listStatus;
    char** pointers = static_cast<char**>(arg1);
    std::uint32_t i = 0;
    for (; i < devices.size() && pointers[i] != nullptr; ++i) {
      std::strncpy(pointers[i], devices[i].description.c_str(), kFtDescriptionSize - 1);
      pointers[i][kFtDescriptionSize - 1] = '\0';
    }
    if (arg2) *static_cast<std::uint32_t*>(arg2) = i;
    if (fillDescriptions != 0) {
      for (std::size_t k = 0; pointers[k] != nullptr; ++k) {
        std::memset(pointers[k], fillDescriptions, kFtDescriptionSize);
      }
    }
    return kFtOk;
  }
  FtStatus Open(int index, FtHandle* handle) override {
    Log("Open", index);
    if (openStatus != kFtOk) return openStatus;
    if (index < 0 || static_cast<std::size_t>(index) >= devices.size()) return kFtDeviceNotFound;
    devices[index].open = true;
    *handle = reinterpret_cast<FtHandle>(static_cast<std::uintptr_t>(index + 1));
    return kFtOk;
  }
  FtStatus Close(FtHandle handle) override {
    Log("Close");
    if (closeStatus != kFtOk) return closeStatus;
    if (Device* d = Find(handle)) d->open = false;
    return kFtOk;
  }
  FtStatus Read(FtHandle handle, void* buffer, std::uint32_t n, std::uint32_t* got) override {
    Log("Read", n);
    *got = 0;
    const LinkFault fault = faults.Before(LinkCall::Read, n);
    if (fault == LinkFault::Close || fault == LinkFault::Fail) {
      return Done(LinkCall::Read, kFtOtherError, 0);  // a device gone fails every call
    }
    if (readStatus != kFtOk) return Done(LinkCall::Read, readStatus, 0);
    Device* d = Find(handle);
    if (!d) return Done(LinkCall::Read, kFtOtherError, 0);
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (fault != LinkFault::Silence && *got < n && !d->incoming.empty()) {
      out[(*got)++] = d->incoming.front();
      d->incoming.pop_front();
    }
    if (fault == LinkFault::Garbage && n > 0) {
      out[0] = faults.garbage;
      *got = std::max<std::uint32_t>(*got, 1);
    }
    Done(LinkCall::Read, kFtOk, *got);
    *got += readOverstatement;
    return kFtOk;
  }
  FtStatus Write(FtHandle handle, void* buffer, std::uint32_t n, std::uint32_t* written) override {
    Log("Write", n);
    *written = 0;
    const LinkFault fault = faults.Before(LinkCall::Write, n);
    if (fault == LinkFault::Close || fault == LinkFault::Fail) {
      return Done(LinkCall::Write, kFtOtherError, 0);
    }
    if (writeStatus != kFtOk) return Done(LinkCall::Write, writeStatus, 0);
    Device* d = Find(handle);
    if (!d) return Done(LinkCall::Write, kFtOtherError, 0);
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    const std::uint32_t taken =
        std::min(n, fault == LinkFault::Partial ? faults.partialBytes : maxBytesPerWrite);
    d->written.insert(d->written.end(), in, in + taken);
    *written = taken;
    if (onWrite) onWrite(*d, in, taken);
    return Done(LinkCall::Write, kFtOk, taken);
  }
  FtStatus SetBaudRate(FtHandle, std::uint32_t baud) override {
    Log("SetBaudRate", baud);
    return baudStatus;
  }
  FtStatus SetDataCharacteristics(FtHandle, std::uint8_t wordLength, std::uint8_t stopBits,
                                  std::uint8_t parity) override {
    if (logCalls) {
      calls.push_back("SetDataCharacteristics " + std::to_string(wordLength) + " " +
                      std::to_string(stopBits) + " " + std::to_string(parity));
    }
    return dataStatus;
  }
  FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* queued) override {
    Log("GetQueueStatus");
    if (onQueueStatus) onQueueStatus();
    const LinkFault fault = faults.Before(LinkCall::QueueStatus, 0);
    Device* d = Find(handle);
    *queued = d && fault != LinkFault::Silence ? static_cast<std::uint32_t>(d->incoming.size()) : 0;
    if (*queued == 0 && clock_) clock_->AdvanceMs(1);
    return Done(LinkCall::QueueStatus, kFtOk, *queued);
  }

  Device* Find(FtHandle handle) {
    const auto index = reinterpret_cast<std::uintptr_t>(handle);
    if (index == 0 || index > devices.size()) return nullptr;
    return &devices[index - 1];
  }
  // Calls recorded since the last Clear, for checking a sequence.
  void ClearCalls() { calls.clear(); }

  std::vector<Device> devices;
  std::vector<std::string> calls;
  std::optional<std::uint32_t> reportedCount;  // a count other than the device list's
  std::uint32_t lastListFlags = 0;
  FtStatus countStatus = kFtOk, listStatus = kFtOk, openStatus = kFtOk, closeStatus = kFtOk;
  FtStatus baudStatus = kFtOk, dataStatus = kFtOk, writeStatus = kFtOk, readStatus = kFtOk;
  std::function<void(Device&, const std::uint8_t*, std::uint32_t)> onWrite;
  std::function<void()> onQueueStatus;  // runs before each queue poll: bytes may arrive
  LinkFaults faults;
  // Drivers misbehaving: not 0, every listed description is 64 of this and unterminated; writes
  // that take fewer bytes than offered; reads that report more than they delivered.
  char fillDescriptions = 0;
  std::uint32_t maxBytesPerWrite = 0xFFFFFFFFu;
  std::uint32_t readOverstatement = 0;
  bool logCalls = true;  // off where millions of calls would only cost time

 private:
  void Log(const char* what) {
    if (logCalls) calls.emplace_back(what);
  }
  void Log(const char* what, std::int64_t n) {
    if (logCalls) calls.push_back(std::string(what) + " " + std::to_string(n));
  }
  FtStatus Done(LinkCall call, FtStatus status, std::uint32_t bytes) {
    faults.After(call, status == kFtOk, bytes);
    return status;
  }
  FakeClock* clock_;
};

}  // namespace loadwing::testing
