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
#include "link/d2xx.h"

namespace loadwing::testing {

// Scripted FTDI devices behind the D2XX table. Each device has a description, the bytes it has
// received for the host (`incoming`) and what the host wrote. Every call is recorded as text
// ("ListDevices count", "ListDevices all", "Open 0", "SetBaudRate 38400",
// "SetDataCharacteristics 8 0 0", "Close", "Write 3", "GetQueueStatus", "Read 5") and each can
// be made to fail. An empty queue poll costs 1 ms on the fake clock, so waits end.
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
      calls.push_back("ListDevices count");
      if (countStatus != kFtOk) return countStatus;
      *static_cast<std::uint32_t*>(arg1) =
          reportedCount.value_or(static_cast<std::uint32_t>(devices.size()));
      return kFtOk;
    }
    calls.push_back("ListDevices all");
    lastListFlags = flags;
    if (listStatus != kFtOk) return listStatus;
    char** pointers = static_cast<char**>(arg1);
    std::uint32_t i = 0;
    for (; i < devices.size() && pointers[i] != nullptr; ++i) {
      std::strncpy(pointers[i], devices[i].description.c_str(), kFtDescriptionSize - 1);
      pointers[i][kFtDescriptionSize - 1] = '\0';
    }
    if (arg2) *static_cast<std::uint32_t*>(arg2) = i;
    return kFtOk;
  }
  FtStatus Open(int index, FtHandle* handle) override {
    calls.push_back("Open " + std::to_string(index));
    if (openStatus != kFtOk) return openStatus;
    if (index < 0 || static_cast<std::size_t>(index) >= devices.size()) return kFtDeviceNotFound;
    devices[index].open = true;
    *handle = reinterpret_cast<FtHandle>(static_cast<std::uintptr_t>(index + 1));
    return kFtOk;
  }
  FtStatus Close(FtHandle handle) override {
    calls.push_back("Close");
    if (closeStatus != kFtOk) return closeStatus;
    if (Device* d = Find(handle)) d->open = false;
    return kFtOk;
  }
  FtStatus Read(FtHandle handle, void* buffer, std::uint32_t n, std::uint32_t* got) override {
    calls.push_back("Read " + std::to_string(n));
    *got = 0;
    if (readStatus != kFtOk) return readStatus;
    Device* d = Find(handle);
    if (!d) return kFtOtherError;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (*got < n && !d->incoming.empty()) {
      out[(*got)++] = d->incoming.front();
      d->incoming.pop_front();
    }
    return kFtOk;
  }
  FtStatus Write(FtHandle handle, void* buffer, std::uint32_t n, std::uint32_t* written) override {
    calls.push_back("Write " + std::to_string(n));
    *written = 0;
    if (writeStatus != kFtOk) return writeStatus;
    Device* d = Find(handle);
    if (!d) return kFtOtherError;
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    d->written.insert(d->written.end(), in, in + n);
    *written = n;
    if (onWrite) onWrite(*d, in, n);
    return kFtOk;
  }
  FtStatus SetBaudRate(FtHandle, std::uint32_t baud) override {
    calls.push_back("SetBaudRate " + std::to_string(baud));
    return baudStatus;
  }
  FtStatus SetDataCharacteristics(FtHandle, std::uint8_t wordLength, std::uint8_t stopBits,
                                  std::uint8_t parity) override {
    calls.push_back("SetDataCharacteristics " + std::to_string(wordLength) + " " +
                    std::to_string(stopBits) + " " + std::to_string(parity));
    return dataStatus;
  }
  FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* queued) override {
    calls.push_back("GetQueueStatus");
    Device* d = Find(handle);
    *queued = d ? static_cast<std::uint32_t>(d->incoming.size()) : 0;
    if (*queued == 0 && clock_) clock_->AdvanceMs(1);
    return kFtOk;
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

 private:
  FakeClock* clock_;
};

}  // namespace loadwing::testing
