#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "firmware/firmware_file.h"

namespace loadwing {
namespace {

class PosixFirmwareFile final : public FirmwareFile {
 public:
  explicit PosixFirmwareFile(int fd) : fd_(fd) {}
  ~PosixFirmwareFile() override { ::close(fd_); }
  PosixFirmwareFile(const PosixFirmwareFile&) = delete;
  PosixFirmwareFile& operator=(const PosixFirmwareFile&) = delete;

  bool Size(std::uint32_t& low, std::uint32_t& high) override {
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || info.st_size < 0) return false;
    const auto size = static_cast<std::uint64_t>(info.st_size);
    low = static_cast<std::uint32_t>(size & 0xFFFFFFFFu);
    high = static_cast<std::uint32_t>(size >> 32);
    return true;
  }

  // Reads until size bytes or the end of the file, as one ReadFile does on Windows: read() may
  // return early on an interrupted call.
  bool Read(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    while (got < size) {
      const ssize_t n = ::read(fd_, buffer + got, size - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      got += static_cast<std::uint32_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

class PosixFirmwareFileSystem final : public FirmwareFileSystem {
 public:
  std::unique_ptr<FirmwareFile> Open(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // Windows cannot open a folder as a file; refuse it here too so both fail alike.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixFirmwareFile>(fd);
  }
};

}  // namespace

FirmwareFileSystem& PlatformFirmwareFileSystem() {
  static PosixFirmwareFileSystem files;
  return files;
}

}  // namespace loadwing
