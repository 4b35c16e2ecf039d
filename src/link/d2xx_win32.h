#pragma once
#include <windows.h>

#include "link/d2xx.h"

namespace loadwing {

inline constexpr const char* kFtd2xxDllName = "FTD2XX.dll";

// FTDI's D2XX library, bound when constructed: FTD2XX.dll from the program's own directory or
// the system directory (never the current directory), its eight functions by their documented
// names, by ordinal where a name is missing. Without the DLL, or with a DLL lacking any of the
// eight, nothing is bound and every call fails, so the program runs on without the cable.
class Ftd2xxLibrary final : public D2xx {
 public:
  // The name is a parameter only so that tests can load a library of their own.
  explicit Ftd2xxLibrary(const char* dllName = kFtd2xxDllName);
  ~Ftd2xxLibrary() override;
  Ftd2xxLibrary(const Ftd2xxLibrary&) = delete;
  Ftd2xxLibrary& operator=(const Ftd2xxLibrary&) = delete;

  bool Loaded() const { return module_ != nullptr; }

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
  // FTDI's published signatures (FT_STATUS is a ULONG, FT_HANDLE a PVOID), all WINAPI.
  using OpenFn = ULONG(WINAPI*)(int deviceNumber, PVOID* handle);
  using CloseFn = ULONG(WINAPI*)(PVOID handle);
  using ReadFn = ULONG(WINAPI*)(PVOID handle, LPVOID buffer, DWORD bytesToRead,
                                LPDWORD bytesReturned);
  using WriteFn = ULONG(WINAPI*)(PVOID handle, LPVOID buffer, DWORD bytesToWrite,
                                 LPDWORD bytesWritten);
  using SetBaudRateFn = ULONG(WINAPI*)(PVOID handle, ULONG baudRate);
  using SetDataCharacteristicsFn = ULONG(WINAPI*)(PVOID handle, UCHAR wordLength, UCHAR stopBits,
                                                  UCHAR parity);
  using GetQueueStatusFn = ULONG(WINAPI*)(PVOID handle, DWORD* rxBytes);
  using ListDevicesFn = ULONG(WINAPI*)(PVOID arg1, PVOID arg2, DWORD flags);

  [[nodiscard]] bool Bind();
  void Unbind();

  HMODULE module_ = nullptr;
  OpenFn open_ = nullptr;
  CloseFn close_ = nullptr;
  ReadFn read_ = nullptr;
  WriteFn write_ = nullptr;
  SetBaudRateFn setBaudRate_ = nullptr;
  SetDataCharacteristicsFn setDataCharacteristics_ = nullptr;
  GetQueueStatusFn getQueueStatus_ = nullptr;
  ListDevicesFn listDevices_ = nullptr;
};

}  // namespace loadwing
