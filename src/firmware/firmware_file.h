#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace loadwing {

// Why a firmware file could not be opened. Each is the dialog's " can't open file, error 1";
// the command line explains them apart.
enum class OpenFailure : std::uint8_t {
  None,
  NotFound,
  AccessDenied,
  Folder,
  NotRegularFile,  // a FIFO, a device, a socket: it might never end, so it is not waited on
  Other,
};

// One firmware file opened for reading. Destroying it closes the file, so every path out of a
// load closes what it opened.
class FirmwareFile {
 public:
  virtual ~FirmwareFile() = default;
  // The file's size as two 32-bit halves, as the platform reports it. False if it cannot tell.
  [[nodiscard]] virtual bool Size(std::uint32_t& low, std::uint32_t& high) = 0;
  // One read of up to size bytes into buffer; got is what arrived. False on a failed read.
  [[nodiscard]] virtual bool Read(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) = 0;
};

// Opens firmware files, of either format, for the one read a load makes. Tests put their own in
// to make each step fail.
class FirmwareFileSystem {
 public:
  virtual ~FirmwareFileSystem() = default;
  // Opens path, exactly as given, without waiting on it; only a regular file is opened. Null,
  // with why set, when it cannot be opened or is no regular file.
  [[nodiscard]] virtual std::unique_ptr<FirmwareFile> Open(const std::string& path,
                                                           OpenFailure& why) = 0;
};

// The platform's own file access.
FirmwareFileSystem& PlatformFirmwareFileSystem();

}  // namespace loadwing
