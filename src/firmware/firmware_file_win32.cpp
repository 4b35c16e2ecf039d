#include <windows.h>

#include "firmware/firmware_file.h"

namespace loadwing {
namespace {

class Win32FirmwareFile final : public FirmwareFile {
 public:
  explicit Win32FirmwareFile(HANDLE handle) : handle_(handle) {}
  ~Win32FirmwareFile() override { CloseHandle(handle_); }
  Win32FirmwareFile(const Win32FirmwareFile&) = delete;
  Win32FirmwareFile& operator=(const Win32FirmwareFile&) = delete;

  bool Size(std::uint32_t& low, std::uint32_t& high) override {
    DWORD sizeHigh = 0;
    SetLastError(NO_ERROR);
    const DWORD sizeLow = GetFileSize(handle_, &sizeHigh);
    // INVALID_FILE_SIZE is also a valid low half; only the last error tells them apart.
    if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    low = sizeLow;
    high = sizeHigh;
    return true;
  }

  bool Read(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) override {
    DWORD read = 0;
    const BOOL ok = ReadFile(handle_, buffer, size, &read, nullptr);
    got = read;
    return ok != FALSE;
  }

 private:
  HANDLE handle_;
};

OpenFailure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return OpenFailure::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return OpenFailure::AccessDenied;
    default:
      return OpenFailure::Other;
  }
}

class Win32FirmwareFileSystem final : public FirmwareFileSystem {
 public:
  std::unique_ptr<FirmwareFile> Open(const std::string& path, OpenFailure& why) override {
    // A folder cannot be opened without FILE_FLAG_BACKUP_SEMANTICS; say so rather than "denied".
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      why = OpenFailure::Folder;
      return nullptr;
    }
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      why = FailureOf(GetLastError());
      return nullptr;
    }
    // A pipe or a device (\\.\pipe\x, CON, COM1) might never end: only a file on disk is read.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
      CloseHandle(handle);
      why = OpenFailure::NotRegularFile;
      return nullptr;
    }
    why = OpenFailure::None;
    return std::make_unique<Win32FirmwareFile>(handle);
  }
};

}  // namespace

FirmwareFileSystem& PlatformFirmwareFileSystem() {
  static Win32FirmwareFileSystem files;
  return files;
}

}  // namespace loadwing
