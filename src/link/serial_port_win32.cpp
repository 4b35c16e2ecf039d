#include "link/serial_port_win32.h"

namespace loadwing {

// The driver checks DCBlength against the record it knows; the layout is the same for 32-
// and 64-bit programs.
static_assert(sizeof(DCB) == 28);

DCB BuildDcb(const SerialLineSettings& settings) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = settings.baudRate;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.ByteSize = settings.byteSize;
  dcb.Parity = settings.parity;
  dcb.StopBits = settings.stopBits;
  // XON/XOFF stays off (fOutX = fInX = 0), but drivers refuse a DCB whose XonChar equals its
  // XoffChar, so they carry the usual DC1/DC3.
  dcb.XonChar = kXonChar;
  dcb.XoffChar = kXoffChar;
  return dcb;
}

COMMTIMEOUTS BuildCommTimeouts(const SerialTimeouts& timeouts) {
  COMMTIMEOUTS result{};
  result.ReadIntervalTimeout = timeouts.readIntervalTimeout;
  result.ReadTotalTimeoutMultiplier = timeouts.readTotalTimeoutMultiplier;
  result.ReadTotalTimeoutConstant = timeouts.readTotalTimeoutConstant;
  result.WriteTotalTimeoutMultiplier = timeouts.writeTotalTimeoutMultiplier;
  result.WriteTotalTimeoutConstant = timeouts.writeTotalTimeoutConstant;
  return result;
}

Win32SerialPort::~Win32SerialPort() {
  Close();
}

bool Win32SerialPort::Open(const std::string& devicePath) {
  // One port per object: a second open must not leak the first handle.
  Close();
  handle_ = ::CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return IsOpen();
}

bool Win32SerialPort::SetCommState(const SerialLineSettings& settings) {
  if (!IsOpen()) return false;
  DCB dcb = BuildDcb(settings);
  return ::SetCommState(handle_, &dcb) != FALSE;
}

bool Win32SerialPort::SetCommTimeouts(const SerialTimeouts& timeouts) {
  if (!IsOpen()) return false;
  COMMTIMEOUTS commTimeouts = BuildCommTimeouts(timeouts);
  return ::SetCommTimeouts(handle_, &commTimeouts) != FALSE;
}

bool Win32SerialPort::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
  if (!IsOpen()) return false;
  return ::SetupComm(handle_, inQueue, outQueue) != FALSE;
}

bool Win32SerialPort::Purge() {
  if (!IsOpen()) return false;
  return ::PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR) != FALSE;
}

bool Win32SerialPort::Read(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& got) {
  got = 0;
  if (!IsOpen()) return false;
  DWORD count = 0;
  const BOOL ok = ::ReadFile(handle_, buffer, n, &count, nullptr);
  got = count;
  return ok != FALSE;
}

bool Win32SerialPort::Write(const std::uint8_t* data, std::uint32_t n, std::uint32_t& written) {
  written = 0;
  if (!IsOpen()) return false;
  DWORD count = 0;
  const BOOL ok = ::WriteFile(handle_, data, n, &count, nullptr);
  written = count;
  return ok != FALSE;
}

void Win32SerialPort::Close() {
  if (!IsOpen()) return;
  ::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

}  // namespace loadwing
