#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "record/flash_record.h"
#include "record/record_files.h"

namespace loadwing {

namespace {

// Never through a symbolic link, never waiting on a FIFO someone planted, never inherited.
constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

std::string Failed(const std::string& what, const std::string& path, int error = errno) {
  return what + " " + path + ": " + std::strerror(error);
}

// The descriptor when it refers to a regular file; closed and -1 otherwise.
int RegularOnly(int fd, const std::string& path, std::string& error) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    error = Failed("cannot examine", path);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(status.st_mode)) {
    error = "cannot use " + path + ": it is no regular file";
    ::close(fd);
    return -1;
  }
  return fd;
}

// Takes the group's and others' rights from a file or folder of this user that still has them.
void ClosePrivate(int fd, mode_t mode) {
  struct stat status {};
  if (::fstat(fd, &status) == 0 && status.st_uid == ::geteuid() && (status.st_mode & 077) != 0) {
    ::fchmod(fd, mode);
  }
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

RecordFiles::~RecordFiles() {
  Unlock();
  CloseReading();
}

bool RecordFiles::MakePrivateFolder(const std::string& folder, std::string& error) {
  // Each missing part is made with its final mode: no moment in which others could enter.
  for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = Failed("cannot create", part);
      return false;
    }
    if (end == std::string::npos) break;
  }
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0) {
    error = Failed("cannot create", folder);
    return false;
  }
  if (!S_ISDIR(status.st_mode)) {
    error = "cannot create " + folder + ": a file is in the way";
    return false;
  }
  // A folder made by an older version was open to everyone: the record's own folder is closed
  // now (its parents are the user's to set).
  const Descriptor own(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | kOpenFlags));
  if (own.get() >= 0) ClosePrivate(own.get(), 0700);
  return true;
}

RecordFiles::Lock RecordFiles::TryLock(const std::string& lockPath, bool exclusive,
                                       std::string& error) {
  if (lock_ < 0) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | kOpenFlags, 0600);
    if (fd < 0) {
      error = Failed("cannot open", lockPath);
      return Lock::kFailed;
    }
    lock_ = RegularOnly(fd, lockPath, error);
    if (lock_ < 0) return Lock::kFailed;
  }
  if (::flock(static_cast<int>(lock_), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
    return Lock::kTaken;
  }
  if (errno == EWOULDBLOCK || errno == EINTR) return Lock::kBusy;
  error = Failed("cannot lock", lockPath);
  return Lock::kFailed;
}

void RecordFiles::Unlock() {
  if (lock_ >= 0) ::close(static_cast<int>(lock_));  // closing releases the lock
  lock_ = -1;
}

std::optional<std::uint64_t> RecordFiles::Size(const std::string& path, std::string& error) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) {
    if (errno == ENOENT) return 0;
    error = Failed("cannot examine", path);
    return std::nullopt;
  }
  if (!S_ISREG(status.st_mode)) {
    error = "cannot use " + path + ": it is no regular file";
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(status.st_size);
}

bool RecordFiles::Rename(const std::string& from, const std::string& to, std::string& error) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  error = Failed("cannot rename", from);
  return false;
}

std::optional<char> RecordFiles::LastByte(const std::string& path) {
  const Descriptor file(::open(path.c_str(), O_RDONLY | kOpenFlags));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size == 0) {
    return std::nullopt;
  }
  char last = 0;
  if (::pread(file.get(), &last, 1, status.st_size - 1) != 1) return std::nullopt;
  return last;
}

bool RecordFiles::AppendDurably(const std::string& path, const std::string& text,
                                std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | kOpenFlags, 0600);
  if (fd < 0) {
    error = Failed("cannot open", path);
    return false;
  }
  const Descriptor file(RegularOnly(fd, path, error));
  if (file.get() < 0) return false;
  ClosePrivate(file.get(), 0600);
  const ssize_t written = ::write(file.get(), text.data(), text.size());
  if (written != static_cast<ssize_t>(text.size())) {
    error = Failed("cannot write", path, written >= 0 ? ENOSPC : errno);
    return false;
  }
  if (::fsync(file.get()) != 0) {
    error = Failed("cannot write", path);
    return false;
  }
  return true;
}

bool RecordFiles::OpenForReading(const std::string& path, std::string& error) {
  CloseReading();
  const int fd = ::open(path.c_str(), O_RDONLY | kOpenFlags);
  if (fd < 0) {
    if (errno != ENOENT) error = Failed("cannot open", path);
    return false;
  }
  reading_ = RegularOnly(fd, path, error);
  readingPath_ = path;
  return reading_ >= 0;
}

long RecordFiles::Read(char* buffer, std::size_t size, std::string& error) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(reading_), buffer, size);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    error = Failed("cannot read", readingPath_);
    return -1;
  }
}

void RecordFiles::CloseReading() {
  if (reading_ >= 0) ::close(static_cast<int>(reading_));
  reading_ = -1;
}

void RecordFiles::Pause(int milliseconds) {
  const timespec pause{0, static_cast<long>(milliseconds) * 1'000'000L};
  ::nanosleep(&pause, nullptr);
}

}  // namespace loadwing
