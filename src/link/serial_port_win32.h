#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "link/serial_port.h"

namespace loadwing {

// The device control block for the machine's line, built from all-zero: only the baud rate,
// binary mode and the data format are set; every handshake line and flow control stays off.
DCB BuildDcb(const SerialLineSettings& settings);
COMMTIMEOUTS BuildCommTimeouts(const SerialTimeouts& timeouts);

// A COM port through kernel32's communications calls, opened for synchronous I/O only.
// Owns its handle: the destructor closes it.
class Win32SerialPort final : public SerialPort {
 public:
  Win32SerialPort() = default;
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  [[nodiscard]] bool Open(const std::string& devicePath) override;
  [[nodiscard]] bool SetCommState(const SerialLineSettings& settings) override;
  [[nodiscard]] bool SetCommTimeouts(const SerialTimeouts& timeouts) override;
  [[nodiscard]] bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;
  [[nodiscard]] bool Purge() override;
  [[nodiscard]] bool Read(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& got) override;
  [[nodiscard]] bool Write(const std::uint8_t* data, std::uint32_t n,
                           std::uint32_t& written) override;
  void Close() override;
  bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace loadwing
