// A stand-in for FTDI's D2XX library, for tests under Wine. It simulates attached cables whose
// bytes travel over a COM port, so that the far end can be a pseudo-terminal on the host.
//
// Environment, read at every call (a test may change it while the DLL is loaded):
//   LOADWING_STANDIN_DESCRIPTIONS  device descriptions separated by '|'; unset: one device,
//                                  "USB <-> ORV serial Device"; set but empty: no device.
//   LOADWING_STANDIN_PORT          the COM port ("COM6" or "\\.\COM6") that FT_Open opens for
//                                  whichever device it opens; unset: FT_Open fails.
//   LOADWING_STANDIN_FAIL          function names separated by '|' ("FT_Open|FT_SetBaudRate")
//                                  that fail with FT_OTHER_ERROR without doing anything.
//   LOADWING_STANDIN_LOG           a file that every call appends one line to.
//
// Unlike the real driver, FT_Read never waits: it returns what has arrived, up to the count.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using FtStatus = ULONG;
constexpr FtStatus kOk = 0;
constexpr FtStatus kInvalidHandle = 1;
constexpr FtStatus kDeviceNotFound = 2;
constexpr FtStatus kDeviceNotOpened = 3;
constexpr FtStatus kIoError = 4;
constexpr FtStatus kInvalidParameter = 6;
constexpr FtStatus kInvalidBaudRate = 7;
constexpr FtStatus kNotSupported = 17;
constexpr FtStatus kOtherError = 18;

constexpr DWORD kListNumberOnly = 0x80000000u;
constexpr DWORD kListByIndex = 0x40000000u;
constexpr DWORD kListAll = 0x20000000u;
constexpr DWORD kOpenByDescription = 2u;
constexpr std::size_t kDescriptionSize = 64;
constexpr std::size_t kMaxDevices = 16;
// What the simulated driver holds before the application reads it.
constexpr std::size_t kMaxPending = 65536;

const char* const kDefaultDescription = "USB <-> ORV serial Device";

bool Env(const char* name, std::string& value) {
  char buffer[1024];
  // An empty variable also reads as length 0; only the error code tells it from a missing one.
  ::SetLastError(ERROR_SUCCESS);
  const DWORD length = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length == 0) {
    value.clear();
    return ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  }
  if (length >= sizeof buffer) {
    value.clear();
    return true;
  }
  value.assign(buffer, length);
  return true;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type bar = text.find('|', start);
    parts.push_back(text.substr(start, bar - start));
    if (bar == std::string::npos) return parts;
    start = bar + 1;
  }
}

std::vector<std::string> Descriptions() {
  std::string value;
  if (!Env("LOADWING_STANDIN_DESCRIPTIONS", value)) return {kDefaultDescription};
  if (value.empty()) return {};
  std::vector<std::string> descriptions = Split(value);
  if (descriptions.size() > kMaxDevices) descriptions.resize(kMaxDevices);
  return descriptions;
}

void Log(const char* format, ...) {
  std::string path;
  if (!Env("LOADWING_STANDIN_LOG", path) || path.empty()) return;
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  if (length <= 0) return;
  HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(std::min<std::size_t>(length, sizeof line - 1));
  ::WriteFile(file, line, size, &written, nullptr);
  ::WriteFile(file, "\n", 1, &written, nullptr);
  ::CloseHandle(file);
}

bool Injected(const char* function) {
  std::string value;
  if (!Env("LOADWING_STANDIN_FAIL", value)) return false;
  for (const std::string& name : Split(value)) {
    if (name == function) {
      Log("%s injected failure", function);
      return true;
    }
  }
  return false;
}

struct Device {
  bool open = false;
  HANDLE port = INVALID_HANDLE_VALUE;
  DCB dcb{};
  std::vector<std::uint8_t> pending;
};

Device devices[kMaxDevices];

Device* Lookup(PVOID handle) {
  for (Device& device : devices) {
    if (&device == handle) return device.open ? &device : nullptr;
  }
  return nullptr;
}

// Takes whatever the port has received into the simulated driver's queue, without waiting.
void Collect(Device& device) {
  std::uint8_t chunk[4096];
  while (device.pending.size() < kMaxPending) {
    const DWORD wanted =
        static_cast<DWORD>(std::min(sizeof chunk, kMaxPending - device.pending.size()));
    DWORD got = 0;
    if (!::ReadFile(device.port, chunk, wanted, &got, nullptr) || got == 0) return;
    device.pending.insert(device.pending.end(), chunk, chunk + got);
  }
}

bool ConfigurePort(Device& device) {
  // The driver's defaults at open: 9600 8N1, no flow control, handshake lines off.
  device.dcb = DCB{};
  device.dcb.DCBlength = sizeof(DCB);
  device.dcb.BaudRate = 9600;
  device.dcb.fBinary = 1;
  device.dcb.ByteSize = 8;
  device.dcb.Parity = NOPARITY;
  device.dcb.StopBits = ONESTOPBIT;
  if (!::SetCommState(device.port, &device.dcb)) return false;
  // Reads return at once with what is there; writes give up after two seconds.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = 2000;
  if (!::SetCommTimeouts(device.port, &timeouts)) return false;
  // A freshly opened device holds no old bytes.
  ::PurgeComm(device.port, PURGE_RXCLEAR | PURGE_TXCLEAR);
  return true;
}

}  // namespace

// Exported by the ordinals of the .def file, as the real library is.
extern "C" {

FtStatus WINAPI FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
  Log("FT_ListDevices flags=0x%08lx", static_cast<unsigned long>(flags));
  if (Injected("FT_ListDevices")) return kOtherError;
  const std::vector<std::string> descriptions = Descriptions();
  if (flags & kListNumberOnly) {
    if (arg1 == nullptr) return kInvalidParameter;
    *static_cast<DWORD*>(arg1) = static_cast<DWORD>(descriptions.size());
    return kOk;
  }
  if ((flags & kOpenByDescription) == 0) return kNotSupported;
  if (flags & kListAll) {
    if (arg1 == nullptr) return kInvalidParameter;
    char** buffers = static_cast<char**>(arg1);
    // The caller's array ends with a null pointer; never write past it.
    for (std::size_t i = 0; i < descriptions.size() && buffers[i] != nullptr; ++i) {
      std::strncpy(buffers[i], descriptions[i].c_str(), kDescriptionSize - 1);
      buffers[i][kDescriptionSize - 1] = '\0';
    }
    if (arg2 != nullptr) *static_cast<DWORD*>(arg2) = static_cast<DWORD>(descriptions.size());
    return kOk;
  }
  if (flags & kListByIndex) {
    const auto index = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(arg1));
    if (index >= descriptions.size()) return kDeviceNotFound;
    if (arg2 == nullptr) return kInvalidParameter;
    char* buffer = static_cast<char*>(arg2);
    std::strncpy(buffer, descriptions[index].c_str(), kDescriptionSize - 1);
    buffer[kDescriptionSize - 1] = '\0';
    return kOk;
  }
  return kNotSupported;
}

FtStatus WINAPI FT_Open(int deviceNumber, PVOID* handle) {
  Log("FT_Open index=%d", deviceNumber);
  if (handle == nullptr) return kInvalidParameter;
  *handle = nullptr;
  if (Injected("FT_Open")) return kOtherError;
  if (deviceNumber < 0 || static_cast<std::size_t>(deviceNumber) >= Descriptions().size()) {
    return kDeviceNotFound;
  }
  Device& device = devices[deviceNumber];
  if (device.open) return kDeviceNotOpened;
  std::string port;
  if (!Env("LOADWING_STANDIN_PORT", port) || port.empty()) return kDeviceNotOpened;
  const std::string path = port.rfind("\\\\", 0) == 0 ? port : "\\\\.\\" + port;
  device.port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device.port == INVALID_HANDLE_VALUE) return kDeviceNotOpened;
  if (!ConfigurePort(device)) {
    ::CloseHandle(device.port);
    device.port = INVALID_HANDLE_VALUE;
    return kIoError;
  }
  device.open = true;
  device.pending.clear();
  *handle = &device;
  return kOk;
}

FtStatus WINAPI FT_Close(PVOID handle) {
  Log("FT_Close");
  if (Injected("FT_Close")) return kOtherError;
  Device* device = Lookup(handle);
  if (device == nullptr) return kInvalidHandle;
  ::CloseHandle(device->port);
  device->port = INVALID_HANDLE_VALUE;
  device->open = false;
  device->pending.clear();
  return kOk;
}

FtStatus WINAPI FT_SetBaudRate(PVOID handle, ULONG baudRate) {
  Log("FT_SetBaudRate baud=%lu", static_cast<unsigned long>(baudRate));
  if (Injected("FT_SetBaudRate")) return kOtherError;
  Device* device = Lookup(handle);
  if (device == nullptr) return kInvalidHandle;
  if (baudRate == 0) return kInvalidBaudRate;
  DCB dcb = device->dcb;
  dcb.BaudRate = baudRate;
  if (!::SetCommState(device->port, &dcb)) return kInvalidBaudRate;
  device->dcb = dcb;
  return kOk;
}

FtStatus WINAPI FT_SetDataCharacteristics(PVOID handle, UCHAR wordLength, UCHAR stopBits,
                                          UCHAR parity) {
  Log("FT_SetDataCharacteristics wordLength=%u stopBits=%u parity=%u", wordLength, stopBits,
      parity);
  if (Injected("FT_SetDataCharacteristics")) return kOtherError;
  Device* device = Lookup(handle);
  if (device == nullptr) return kInvalidHandle;
  // FT_BITS_7/8, FT_STOP_BITS_1/2 (0/2), FT_PARITY_NONE..SPACE (0..4): the same numbers Win32
  // uses for ByteSize, StopBits and Parity.
  if ((wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) || parity > 4) {
    return kInvalidParameter;
  }
  DCB dcb = device->dcb;
  dcb.ByteSize = wordLength;
  dcb.StopBits = stopBits;
  dcb.Parity = parity;
  dcb.fParity = parity != NOPARITY;
  if (!::SetCommState(device->port, &dcb)) return kIoError;
  device->dcb = dcb;
  return kOk;
}

FtStatus WINAPI FT_GetQueueStatus(PVOID handle, DWORD* rxBytes) {
  if (Injected("FT_GetQueueStatus")) return kOtherError;
  Device* device = Lookup(handle);
  if (device == nullptr) return kInvalidHandle;
  if (rxBytes == nullptr) return kInvalidParameter;
  Collect(*device);
  *rxBytes = static_cast<DWORD>(device->pending.size());
  // Polled continuously by its callers: only a non-empty queue is worth a line.
  if (*rxBytes != 0) Log("FT_GetQueueStatus queued=%lu", static_cast<unsigned long>(*rxBytes));
  return kOk;
}

FtStatus WINAPI FT_Read(PVOID handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesReturned) {
  Log("FT_Read n=%lu", static_cast<unsigned long>(bytesToRead));
  if (bytesReturned != nullptr) *bytesReturned = 0;
  if (Injected("FT_Read")) return kOtherError;
  Device* device = Lookup(handle);
  if (device == nullptr) return kInvalidHandle;
  if (buffer == nullptr || bytesReturned == nullptr) return kInvalidParameter;
  if (device->pending.size() < bytesToRead) Collect(*device);
  const std::size_t count = std::min<std::size_t>(bytesToRead, device->pending.size());
  std::memcpy(buffer, device->pending.data(), count);
  device->pending.erase(device->pending.begin(),
                        device->pending.begin() + static_cast<std::ptrdiff_t>(count));
  *bytesReturned = static_cast<DWORD>(count);
  return kOk;
}

FtStatus WINAPI FT_Write(PVOID handle, LPVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten) {
  Log("FT_Write n=%lu", static_cast<unsigned long>(bytesToWrite));
  if (bytesWritten != nullptr) *bytesWritten = 0;
  if (Injected("FT_Write")) return kOtherError;
  Device* device = Lookup(handle);
  if (device == nullptr) return kInvalidHandle;
  if (buffer == nullptr || bytesWritten == nullptr) return kInvalidParameter;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(device->port, buffer, bytesToWrite, &written, nullptr);
  *bytesWritten = written;
  return ok ? kOk : kIoError;
}

}  // extern "C"
