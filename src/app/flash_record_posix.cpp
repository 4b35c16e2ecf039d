#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/flash_record.h"

namespace loadwing {

namespace {

// A writer holds the lock only for one short append; waiting longer than this means something
// is wrong, and the transfer's end must not wait for it.
constexpr int kLockAttempts = 200;
constexpr long kLockPauseNs = 10'000'000;

std::string Failed(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool LockExclusive(int fd) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    const timespec pause{0, kLockPauseNs};
    ::nanosleep(&pause, nullptr);
  }
  errno = EWOULDBLOCK;
  return false;
}

// True when the file's last byte is no line end (a line cut off by a power loss).
bool EndsInsideLine(int fd, off_t size) {
  if (size == 0) return false;
  char last = '\n';
  return ::pread(fd, &last, 1, size - 1) == 1 && last != '\n';
}

}  // namespace

std::string DefaultFlashRecordPath(std::string& error) {
  const char* state = std::getenv("XDG_STATE_HOME");
  // A relative XDG_STATE_HOME is not to be trusted (it would depend on the working folder).
  if (state != nullptr && state[0] == '/')
    return std::string(state) + "/loadwing/flash-record.jsonl";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    error = "neither XDG_STATE_HOME nor HOME is set";
    return {};
  }
  return std::string(home) + "/.local/state/loadwing/flash-record.jsonl";
}

bool AppendRecordLine(const std::string& path, const std::string& line, std::uint64_t rotateBytes,
                      std::string& error) {
  // A lock file of its own: the record file itself is renamed away when it is rotated.
  const std::string lockPath = path + ".lock";
  const Descriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (lock.get() < 0) {
    error = Failed("cannot open", lockPath);
    return false;
  }
  if (!LockExclusive(lock.get())) {
    error = Failed("cannot lock", lockPath);
    return false;
  }
  std::string text = line + '\n';
  // One rotation at most: a failed rename only lets the file grow.
  for (bool mayRotate = true;; mayRotate = false) {
    const Descriptor file(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (file.get() < 0) {
      error = Failed("cannot open", path);
      return false;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
      error = Failed("cannot examine", path);
      return false;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (mayRotate && size > 0 && size + text.size() > rotateBytes) {
      ::rename(path.c_str(), (path + ".1").c_str());  // the older file goes
      continue;
    }
    if (EndsInsideLine(file.get(), status.st_size)) text.insert(text.begin(), '\n');
    const ssize_t written = ::write(file.get(), text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size())) {
      if (written >= 0) errno = ENOSPC;
      error = Failed("cannot write", path);
      return false;
    }
    return true;
  }
}

}  // namespace loadwing
