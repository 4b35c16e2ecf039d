#pragma once
#include <cstdint>
#include <string>

namespace loadwing {

// The line settings the link to the machine needs; the Win32 layer builds its DCB from these
// (from all-zero), the POSIX layer its termios.
struct SerialLineSettings {
  std::uint32_t baudRate = 38400;
  std::uint8_t byteSize = 8;
  std::uint8_t parity = 0;    // NOPARITY
  std::uint8_t stopBits = 0;  // ONESTOPBIT
  // Binary mode, no flow control of any kind, DTR and RTS held off, errors do not abort.
};

// The flow-control characters the line is configured with, though XON/XOFF stays off: DC1 and
// DC3, as drivers expect (some refuse two equal characters).
inline constexpr char kXonChar = 0x11;
inline constexpr char kXoffChar = 0x13;

// Time limits in milliseconds, with the meaning of Win32's COMMTIMEOUTS.
struct SerialTimeouts {
  std::uint32_t readIntervalTimeout = 500;
  std::uint32_t readTotalTimeoutMultiplier = 5;
  std::uint32_t readTotalTimeoutConstant = 10;
  std::uint32_t writeTotalTimeoutMultiplier = 5;
  std::uint32_t writeTotalTimeoutConstant = 10;
};

// The process's one serial port. Each call maps to one platform call; every failure is a false
// result. Reads and writes are synchronous and bounded by the configured time limits.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the device exclusively: "\\.\COM3" on Windows, a device path on POSIX.
  [[nodiscard]] virtual bool Open(const std::string& devicePath) = 0;
  [[nodiscard]] virtual bool SetCommState(const SerialLineSettings& settings) = 0;
  [[nodiscard]] virtual bool SetCommTimeouts(const SerialTimeouts& timeouts) = 0;
  [[nodiscard]] virtual bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
  // Discards both the transmit and the receive buffers.
  [[nodiscard]] virtual bool Purge() = 0;
  // Reads at most n bytes within the time limits; got is what arrived (0 on a silent line).
  [[nodiscard]] virtual bool Read(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& got) = 0;
  [[nodiscard]] virtual bool Write(const std::uint8_t* data, std::uint32_t n,
                                   std::uint32_t& written) = 0;
  // Closes the port if it is open.
  virtual void Close() = 0;
  [[nodiscard]] virtual bool IsOpen() const = 0;
};

}  // namespace loadwing
