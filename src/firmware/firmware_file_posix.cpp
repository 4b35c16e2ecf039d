#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "firmware/firmware_file.h"

namespace loadwing {
namespace {

class PosixFirmwareFile final : public FirmwareFile {
 public:
  PosixFirmwareFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~PosixFirmwareFile() override { ::close(fd_); }
  PosixFirmwareFile(const PosixFirmwareFile&) = delete;
  PosixFirmwareFile& operator=(const PosixFirmwareFile&) = delete;

  // The size checked when the file was opened: the one the read is measured against.
  bool Size(std::uint32_t& low, std::uint32_t& high) override {
    low = static_cast<std::uint32_t>(size_ & 0xFFFFFFFFu);
    high = static_cast<std::uint32_t>(size_ >> 32);
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
  std::uint64_t size_;
};

OpenFailure FailureOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return OpenFailure::NotFound;
    case EACCES:
    case EPERM:
      return OpenFailure::AccessDenied;
    case EISDIR:
      return OpenFailure::Folder;
    default:
      return OpenFailure::Other;
  }
}

class PosixFirmwareFileSystem final : public FirmwareFileSystem {
 public:
  std::unique_ptr<FirmwareFile> Open(const std::string& path, OpenFailure& why) override {
    // Non-blocking, so that opening a FIFO with no writer returns at once instead of waiting.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      why = FailureOf(errno);
      return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
      why = S_ISDIR(info.st_mode) ? OpenFailure::Folder : OpenFailure::NotRegularFile;
      ::close(fd);
      return nullptr;
    }
    // A regular file never blocks; reading it in blocking mode spares the EAGAIN handling.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    why = OpenFailure::None;
    return std::make_unique<PosixFirmwareFile>(fd, static_cast<std::uint64_t>(info.st_size));
  }
};

}  // namespace

FirmwareFileSystem& PlatformFirmwareFileSystem() {
  static PosixFirmwareFileSystem files;
  return files;
}

}  // namespace loadwing
