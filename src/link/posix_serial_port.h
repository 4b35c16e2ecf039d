#pragma once
#include <cstdint>
#include <string>

#include "link/serial_port.h"

namespace loadwing {

// A serial port on a POSIX tty (termios + poll). Reads and writes keep the meaning of Win32's
// COMMTIMEOUTS, so the link byte I/O behaves the same on both platforms.
class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort() = default;
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  // Opens the device exclusively; a second opener of the same device is refused.
  [[nodiscard]] bool Open(const std::string& devicePath) override;
  [[nodiscard]] bool SetCommState(const SerialLineSettings& settings) override;
  [[nodiscard]] bool SetCommTimeouts(const SerialTimeouts& timeouts) override;
  [[nodiscard]] bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;
  [[nodiscard]] bool Purge() override;
  [[nodiscard]] bool Read(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& got) override;
  [[nodiscard]] bool Write(const std::uint8_t* data, std::uint32_t n,
                           std::uint32_t& written) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }

 private:
  int fd_ = -1;
  // Bounded from the start, so that a port used before SetCommTimeouts cannot block for ever.
  SerialTimeouts timeouts_{};
};

}  // namespace loadwing
