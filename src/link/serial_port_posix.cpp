#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>

#include "link/posix_serial_port.h"

namespace loadwing {

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

std::optional<speed_t> SpeedOf(std::uint32_t baudRate) {
  switch (baudRate) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return std::nullopt;
  }
}

std::optional<tcflag_t> SizeFlagOf(std::uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    case 8:
      return CS8;
    default:
      return std::nullopt;
  }
}

// Win32 parity codes: none, odd, even, mark, space.
std::optional<tcflag_t> ParityFlagsOf(std::uint8_t parity) {
  switch (parity) {
    case 0:
      return tcflag_t{0};
    case 1:
      return tcflag_t{PARENB | PARODD};
    case 2:
      return tcflag_t{PARENB};
    case 3:
      return tcflag_t{PARENB | PARODD | CMSPAR};
    case 4:
      return tcflag_t{PARENB | CMSPAR};
    default:
      return std::nullopt;
  }
}

// Milliseconds left until deadline, never negative.
int MillisUntil(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

// Waits without a descriptor: a line whose far end is gone must still cost the caller its time
// limit, or the caller's wait would spin.
void SleepMillis(int ms) {
  if (ms > 0) poll(nullptr, 0, ms);
}

std::chrono::milliseconds TotalLimit(std::uint32_t multiplier, std::uint32_t constant,
                                     std::uint32_t n) {
  return std::chrono::milliseconds(static_cast<std::uint64_t>(multiplier) * n + constant);
}

}  // namespace

PosixSerialPort::~PosixSerialPort() {
  Close();
}

bool PosixSerialPort::Open(const std::string& devicePath) {
  Close();
  // Non-blocking for good: every wait goes through poll with the configured limits.
  const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // The advisory lock is what keeps a second opener out even for root, whom TIOCEXCL lets pass.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  timeouts_ = SerialTimeouts{};
  return true;
}

bool PosixSerialPort::SetCommState(const SerialLineSettings& settings) {
  if (fd_ < 0) return false;
  const std::optional<speed_t> speed = SpeedOf(settings.baudRate);
  const std::optional<tcflag_t> size = SizeFlagOf(settings.byteSize);
  const std::optional<tcflag_t> parity = ParityFlagsOf(settings.parity);
  // One stop bit (0) or two (2); one and a half has no termios form.
  if (!speed || !size || !parity || (settings.stopBits != 0 && settings.stopBits != 2)) {
    return false;
  }

  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= *size | *parity | CLOCAL | CREAD;
  if (settings.stopBits == 2) tio.c_cflag |= CSTOPB;
  // Reads never block in the driver; poll does the waiting.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, *speed) != 0 || cfsetospeed(&tio, *speed) != 0) return false;
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) return false;

  // tcsetattr succeeds when any part of the request took; check that all of it did.
  termios applied{};
  if (tcgetattr(fd_, &applied) != 0) return false;
  const tcflag_t checked = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CLOCAL | CREAD;
  if ((applied.c_cflag & checked) != (tio.c_cflag & checked) || cfgetospeed(&applied) != *speed) {
    return false;
  }

  // DTR and RTS held off. A pty has no modem lines and refuses the request; that is fine.
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd_, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) return false;
  return true;
}

bool PosixSerialPort::SetCommTimeouts(const SerialTimeouts& timeouts) {
  if (fd_ < 0) return false;
  timeouts_ = timeouts;
  return true;
}

bool PosixSerialPort::SetupComm(std::uint32_t, std::uint32_t) {
  // Linux sizes a tty's queues itself and offers no call to change them; accepting the request
  // is all there is to do.
  return fd_ >= 0;
}

bool PosixSerialPort::Purge() {
  if (fd_ < 0) return false;
  return tcflush(fd_, TCIOFLUSH) == 0;
}

bool PosixSerialPort::Read(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& got) {
  got = 0;
  if (fd_ < 0) return false;
  if (n == 0) return true;
  const SerialTimeouts& t = timeouts_;

  // COMMTIMEOUTS: an interval of MAXDWORD with no total limit returns at once with what is
  // there; with a MAXDWORD multiplier too, it waits up to the constant for the first byte only.
  const bool immediate = t.readIntervalTimeout == kMaxDword && t.readTotalTimeoutMultiplier == 0 &&
                         t.readTotalTimeoutConstant == 0;
  const bool firstByteOnly =
      t.readIntervalTimeout == kMaxDword && t.readTotalTimeoutMultiplier == kMaxDword &&
      t.readTotalTimeoutConstant != 0 && t.readTotalTimeoutConstant != kMaxDword;
  const bool useInterval = !immediate && !firstByteOnly && t.readIntervalTimeout != 0;

  const auto start = SteadyClock::now();
  std::optional<SteadyClock::time_point> deadline;
  if (immediate) {
    deadline = start;
  } else if (firstByteOnly) {
    deadline = start + std::chrono::milliseconds(t.readTotalTimeoutConstant);
  } else if (t.readTotalTimeoutMultiplier != 0 || t.readTotalTimeoutConstant != 0) {
    deadline = start + TotalLimit(t.readTotalTimeoutMultiplier, t.readTotalTimeoutConstant, n);
  }
  SteadyClock::time_point lastByte = start;

  while (got < n) {
    // The wait for this round: up to the total deadline, and once bytes came, up to the
    // interval limit after the last one. -1 is no limit at all.
    int wait = -1;
    if (deadline) wait = MillisUntil(*deadline);
    if (useInterval && got > 0) {
      const int interval = MillisUntil(lastByte + std::chrono::milliseconds(t.readIntervalTimeout));
      wait = wait < 0 ? interval : std::min(wait, interval);
    }

    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (ready == 0) break;  // a time limit ran out

    bool hungUp = (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && !(p.revents & POLLIN);
    if (!hungUp) {
      const ssize_t r = ::read(fd_, buffer + got, n - got);
      if (r > 0) {
        got += static_cast<std::uint32_t>(r);
        lastByte = SteadyClock::now();
        if (firstByteOnly) deadline = lastByte;
        continue;
      }
      if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      hungUp = r == 0 || errno == EIO;
      if (!hungUp) return false;
    }
    // The far end went away: like silence to the caller, and it still takes the time limit so
    // the caller's wait does not spin.
    if (deadline) {
      SleepMillis(MillisUntil(*deadline));
    } else if (t.readIntervalTimeout != 0 && t.readIntervalTimeout != kMaxDword) {
      SleepMillis(static_cast<int>(std::min<std::uint32_t>(t.readIntervalTimeout, 0x7FFFFFFF)));
    }
    break;
  }
  return true;
}

bool PosixSerialPort::Write(const std::uint8_t* data, std::uint32_t n, std::uint32_t& written) {
  written = 0;
  if (fd_ < 0) return false;
  const SerialTimeouts& t = timeouts_;
  std::optional<SteadyClock::time_point> deadline;
  if (t.writeTotalTimeoutMultiplier != 0 || t.writeTotalTimeoutConstant != 0) {
    deadline = SteadyClock::now() +
               TotalLimit(t.writeTotalTimeoutMultiplier, t.writeTotalTimeoutConstant, n);
  }

  while (written < n) {
    const ssize_t r = ::write(fd_, data + written, n - written);
    if (r > 0) {
      written += static_cast<std::uint32_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN) return false;

    // The driver's queue is full: wait for room within the limit. A limit that runs out is a
    // completed write of fewer bytes, as on Win32.
    const int wait = deadline ? MillisUntil(*deadline) : -1;
    if (wait == 0) break;
    pollfd p{fd_, POLLOUT, 0};
    const int ready = poll(&p, 1, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (ready == 0) break;
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && !(p.revents & POLLOUT)) return false;
  }
  return true;
}

void PosixSerialPort::Close() {
  if (fd_ < 0) return;
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // also drops the advisory lock
  fd_ = -1;
}

}  // namespace loadwing
