#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "link/d2xx.h"

namespace loadwing {

// The D2XX table over libftdi1, for Linux: FTDI devices (vendor 0x0403, any product) are
// listed in USB bus order, and a device's index in that listing is the index Open takes.
// libftdi has no receive-queue query, so each open device keeps the bytes it has fetched from
// the chip until they are read, and fetches more only when none are left. Closing a device
// hands it back to the kernel's serial driver.
class LibFtdiD2xx final : public D2xx {
 public:
  // The shared libraries bound on first use; where either is missing no device is listed.
  // Tests name a stand-in of their own here.
  struct Libraries {
    const char* ftdi = "libftdi1.so.2";
    const char* usb = "libusb-1.0.so.0";
  };

  LibFtdiD2xx();
  explicit LibFtdiD2xx(Libraries libraries);
  ~LibFtdiD2xx() override;
  LibFtdiD2xx(const LibFtdiD2xx&) = delete;
  LibFtdiD2xx& operator=(const LibFtdiD2xx&) = delete;

  [[nodiscard]] FtStatus ListDevices(void* arg1, void* arg2, std::uint32_t flags) override;
  [[nodiscard]] FtStatus Open(int index, FtHandle* handle) override;
  [[nodiscard]] FtStatus Close(FtHandle handle) override;
  [[nodiscard]] FtStatus Read(FtHandle handle, void* buffer, std::uint32_t n,
                              std::uint32_t* got) override;
  [[nodiscard]] FtStatus Write(FtHandle handle, void* buffer, std::uint32_t n,
                               std::uint32_t* written) override;
  [[nodiscard]] FtStatus SetBaudRate(FtHandle handle, std::uint32_t baud) override;
  [[nodiscard]] FtStatus SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                                std::uint8_t stopBits,
                                                std::uint8_t parity) override;
  [[nodiscard]] FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* queued) override;

 private:
  struct Api;
  struct Device;
  const Api& Library();
  Device* Find(FtHandle handle);
  // Fetches what the chip has received (whole packets, at most until its first short one) into
  // the device's buffer; false on a USB error.
  [[nodiscard]] bool Fetch(Device& device);

  // Handles given out and not yet closed; a handle not in here is never dereferenced.
  std::vector<std::unique_ptr<Device>> open_;
  Libraries libraries_;
  std::unique_ptr<Api> api_;  // bound by Library()
};

}  // namespace loadwing
