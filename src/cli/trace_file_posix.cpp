#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/trace_file.h"

namespace loadwing::cli {

std::unique_ptr<TraceFile> TraceFile::Create(const std::string& path, bool replace,
                                             std::string& error) {
  // O_EXCL makes a new file or fails; O_NOFOLLOW never writes through a planted link; O_NONBLOCK
  // keeps a FIFO put in the file's place from holding the run.
  int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_APPEND;
  int fd = ::open(path.c_str(), flags | O_EXCL, 0644);
  if (fd < 0 && errno == EEXIST && replace) fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    error = errno == EEXIST ? "it exists already (give --trace-replace to replace it)"
                            : std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    error = "not a regular file";
    return nullptr;
  }
  if (::ftruncate(fd, 0) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<TraceFile> file(new TraceFile());
  file->handle_ = fd;
  return file;
}

TraceFile::~TraceFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool TraceFile::WriteLine(std::string_view line) {
  const int fd = static_cast<int>(handle_);
  while (!line.empty()) {
    const ssize_t n = ::write(fd, line.data(), line.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    line.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace loadwing::cli
