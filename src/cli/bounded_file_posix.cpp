#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "cli/bounded_file.h"

namespace loadwing::cli {

namespace {

std::string Reason(int error) {
  return std::generic_category().message(error);
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

std::optional<std::string> ReadBoundedFile(const std::string& path, std::size_t limit,
                                           std::string& error) {
  // O_NONBLOCK: opening a FIFO with no writer would wait for one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = Reason(errno);
    return std::nullopt;
  }
  std::optional<std::string> text;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error = Reason(errno);
  } else if (!S_ISREG(info.st_mode)) {
    error = std::string("is ") + KindOf(info.st_mode) + ", not a regular file";
  } else if (static_cast<std::uintmax_t>(info.st_size) > limit) {
    error = "is larger than " + std::to_string(limit) + " bytes";
  } else {
    // One byte more than allowed tells a file that grew since fstat.
    std::string bytes(limit + 1, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = Reason(errno);
        break;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (error.empty() && got > limit) {
      error = "is larger than " + std::to_string(limit) + " bytes";
    } else if (error.empty()) {
      bytes.resize(got);
      text = std::move(bytes);
    }
  }
  ::close(fd);
  return text;
}

}  // namespace loadwing::cli
