#pragma once
#include <cstdint>
#include <istream>
#include <memory>
#include <string>

namespace loadwing {

// One S-record file opened for reading. Destroying it closes the file, so every path out of a
// load closes what it opened.
class FirmwareFile {
 public:
  virtual ~FirmwareFile() = default;
  // The file's size as two 32-bit halves, as the platform reports it. False if it cannot tell.
  [[nodiscard]] virtual bool Size(std::uint32_t& low, std::uint32_t& high) = 0;
  // One read of up to size bytes into buffer; got is what arrived. False on a failed read.
  [[nodiscard]] virtual bool Read(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) = 0;
};

// Opens firmware files: S-record files as files, Intel HEX files as streams. Tests put their own
// in to make each step fail.
class FirmwareFileSystem {
 public:
  virtual ~FirmwareFileSystem() = default;
  // Opens path, exactly as given, for sequential reading; null when it cannot be opened.
  [[nodiscard]] virtual std::unique_ptr<FirmwareFile> Open(const std::string& path) = 0;
  // Opens path, exactly as given, as a stream for the Intel HEX reading; null when it cannot be
  // opened or names a folder. The standard file stream unless a test puts in its own.
  virtual std::unique_ptr<std::istream> OpenStream(const std::string& path);
};

// The platform's own file access.
FirmwareFileSystem& PlatformFirmwareFileSystem();

}  // namespace loadwing
