#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "cli/output_file.h"

namespace loadwing::cli {

namespace {

std::string Reason(int error) {
  return std::generic_category().message(error);
}

// A new file beside path, named like mkstemp's ".NAME.XXXXXX"; -1 with errno set when none could
// be made. O_EXCL and O_NOFOLLOW: whatever already lies under a name (a planted link, a FIFO, the
// input) is never opened; another name is tried instead.
int CreateUniqueBeside(const std::string& path, mode_t mode, std::string& temporary) {
  const std::filesystem::path target(path);
  const std::filesystem::path folder = target.parent_path();
  std::random_device random;
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Appended piece by piece: GCC 12 at -O3 takes "." + a temporary string for an overlapping
    // copy (-Wrestrict), a false alarm that stops the release build.
    std::string name(1, '.');
    name += target.filename().string();
    name += '.';
    for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    temporary = (folder / name).string();
    const int fd = ::open(temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size,
                         std::string& error) {
  // A file replaced keeps its permissions; a new one gets the usual ones less the umask.
  struct stat replaced {};
  const bool replacing = ::stat(path.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode);
  const mode_t mode = replacing ? (replaced.st_mode & 07777) : 0666;
  std::string temporary;
  const int fd = CreateUniqueBeside(path, mode, temporary);
  if (fd < 0) {
    error = "cannot create a file beside " + path + ": " + Reason(errno);
    return false;
  }
  bool ok = !replacing || ::fchmod(fd, mode) == 0;  // the umask narrowed it at creation
  std::size_t written = 0;
  while (ok && written < size) {
    const ssize_t n = ::write(fd, data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) written += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  const int reason = errno;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + temporary + " to " + path + ": " + Reason(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  if (!ok) {
    error = "cannot write " + temporary + ": " + Reason(reason != 0 ? reason : errno);
    ::unlink(temporary.c_str());
  }
  return ok;
}

}  // namespace loadwing::cli
