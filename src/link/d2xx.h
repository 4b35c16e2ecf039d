#pragma once
#include <cstdint>

namespace loadwing {

// The eight functions of FTDI's D2XX interface the cable needs, as a table the platform fills:
// on Windows from FTD2XX.dll by name (an absent DLL gives a table whose every call fails),
// on Linux over libftdi1, in tests a scripted fake.
using FtStatus = std::uint32_t;
using FtHandle = void*;
inline constexpr FtStatus kFtOk = 0;
inline constexpr FtStatus kFtDeviceNotFound = 2;
inline constexpr FtStatus kFtOtherError = 18;
inline constexpr std::uint32_t kFtListNumberOnly = 0x80000000u;
inline constexpr std::uint32_t kFtListAll = 0x20000000u;
inline constexpr std::uint32_t kFtOpenByDescription = 2u;
inline constexpr std::uint32_t kFtDescriptionSize = 64;

class D2xx {
 public:
  virtual ~D2xx() = default;
  // FT_ListDevices(arg1, arg2, flags): the count query is (&count, nullptr, kFtListNumberOnly);
  // the description listing is (char* array ending in nullptr, &count,
  // kFtListAll | kFtOpenByDescription), each pointer to a 64-byte buffer.
  [[nodiscard]] virtual FtStatus ListDevices(void* arg1, void* arg2, std::uint32_t flags) = 0;
  [[nodiscard]] virtual FtStatus Open(int index, FtHandle* handle) = 0;
  [[nodiscard]] virtual FtStatus Close(FtHandle handle) = 0;
  [[nodiscard]] virtual FtStatus Read(FtHandle handle, void* buffer, std::uint32_t n,
                                      std::uint32_t* got) = 0;
  [[nodiscard]] virtual FtStatus Write(FtHandle handle, void* buffer, std::uint32_t n,
                                       std::uint32_t* written) = 0;
  [[nodiscard]] virtual FtStatus SetBaudRate(FtHandle handle, std::uint32_t baud) = 0;
  [[nodiscard]] virtual FtStatus SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                                        std::uint8_t stopBits,
                                                        std::uint8_t parity) = 0;
  [[nodiscard]] virtual FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* queued) = 0;
};

}  // namespace loadwing
