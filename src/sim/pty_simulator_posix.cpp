#include "sim/pty_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace loadwing::sim {

namespace {

speed_t SpeedOf(std::uint32_t baud) {
  switch (baud) {
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
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B38400;
  }
}

bool MakeRaw(int fd, std::uint32_t baud) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, SpeedOf(baud));
  cfsetospeed(&tio, SpeedOf(baud));
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

bool OpenSimLine(const std::string& devicePath, std::uint32_t baud, SimLine& line,
                 std::string& error) {
  if (devicePath.empty()) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
      error = std::string("openpty: ") + std::strerror(errno);
      return false;
    }
    if (!MakeRaw(slave, baud)) {
      error = std::string("raw mode: ") + std::strerror(errno);
      close(master);
      close(slave);
      return false;
    }
    line.lineFd = master;
    line.holdFd = slave;
    line.devicePath = name;
  } else {
    const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      error = devicePath + ": " + std::strerror(errno);
      return false;
    }
    if (!MakeRaw(fd, baud == 0 ? 38400 : baud)) {
      error = devicePath + ": raw mode: " + std::strerror(errno);
      close(fd);
      return false;
    }
    line.lineFd = fd;
    line.devicePath = devicePath;
  }
  fcntl(line.lineFd, F_SETFL, fcntl(line.lineFd, F_GETFL) | O_NONBLOCK);
  return true;
}

PtySimulator::~PtySimulator() {
  Stop();
}

bool PtySimulator::Start(const SimulatorConfig& config, const std::string& devicePath) {
  if (running_.load()) {
    std::lock_guard lock(mutex_);
    error_ = "already running";
    return false;
  }
  Stop();  // a previous run that ended on its own still has a thread to join
  std::lock_guard lock(mutex_);
  error_.clear();
  timeline_.clear();
  pending_.clear();
  baud_ = config.baudRate;
  SimLine line;
  if (!OpenSimLine(devicePath, baud_, line, error_)) return false;
  lineFd_ = line.lineFd;
  holdFd_ = line.holdFd;
  devicePath_ = line.devicePath;
  simulator_ = std::make_unique<MachineSimulator>(config);
  stop_ = false;
  running_ = true;
  thread_ = std::thread([this] { Run(); });
  return true;
}

std::string PtySimulator::DevicePath() const {
  std::lock_guard lock(mutex_);
  return devicePath_;
}

std::string PtySimulator::Error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

void PtySimulator::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  if (lineFd_ >= 0) close(lineFd_);
  if (holdFd_ >= 0) close(holdFd_);
  lineFd_ = -1;
  holdFd_ = -1;
  running_ = false;
}

SimulatorReport PtySimulator::Report() const {
  std::lock_guard lock(mutex_);
  return simulator_ ? simulator_->Report() : SimulatorReport{};
}

std::vector<LineEvent> PtySimulator::Timeline() const {
  std::lock_guard lock(mutex_);
  return timeline_;
}

void PtySimulator::Note(bool in, std::size_t bytes) {
  if (!keepTimeline_) return;
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  std::lock_guard lock(mutex_);
  timeline_.push_back({std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(), in,
                       static_cast<std::uint32_t>(bytes)});
}

std::size_t PtySimulator::TakeInput(std::vector<std::uint8_t>& buffer) {
  const std::size_t held = std::min(pending_.size(), buffer.size());
  std::copy_n(pending_.begin(), held, buffer.begin());
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(held));
  if (held == buffer.size()) return held;
  const ssize_t n = read(lineFd_, buffer.data() + held, buffer.size() - held);
  if (n <= 0) return held;
  Note(true, static_cast<std::size_t>(n));
  return held + static_cast<std::size_t>(n);
}

void PtySimulator::Pace(std::size_t n) {
  const double seconds = MachineSimulator::LineSeconds(n, baud_);
  if (seconds <= 0) return;
  const auto wait = std::chrono::duration<double>(seconds);
  if (!keepTimeline_) {
    std::this_thread::sleep_for(wait);
    return;
  }
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(wait);
  std::uint8_t piece[4096];
  for (auto now = Clock::now(); now < end; now = Clock::now()) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - now).count();
    const timespec limit{static_cast<time_t>(left / 1000000000),
                         static_cast<long>(left % 1000000000)};
    pollfd p{lineFd_, POLLIN, 0};
    const int ready = ppoll(&p, 1, &limit, nullptr);
    if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
    const ssize_t got =
        ready > 0 && (p.revents & POLLIN) != 0 ? read(lineFd_, piece, sizeof piece) : -1;
    if (got <= 0) {
      // A hang-up or an error stays ready: sleep out the rest rather than spin.
      std::this_thread::sleep_until(end);
      break;
    }
    Note(true, static_cast<std::size_t>(got));
    pending_.insert(pending_.end(), piece, piece + got);
  }
}

bool PtySimulator::WriteAll(const std::uint8_t* data, std::size_t n) {
  std::size_t sent = 0;
  while (sent < n && !stop_.load()) {
    const ssize_t w = write(lineFd_, data + sent, n - sent);
    if (w > 0) {
      sent += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    pollfd p{lineFd_, POLLOUT, 0};
    poll(&p, 1, 50);
  }
  return sent == n;
}

void PtySimulator::Run() {
  using Clock = std::chrono::steady_clock;
  std::vector<std::uint8_t> buffer(4096);
  auto lastInput = Clock::now();
  while (!stop_.load()) {
    if (pending_.empty()) {
      pollfd p{lineFd_, POLLIN, 0};
      const int ready = poll(&p, 1, 50);
      if (ready < 0) {
        if (errno == EINTR) continue;
        std::lock_guard lock(mutex_);
        error_ = std::string("poll: ") + std::strerror(errno);
        break;
      }
      if (ready == 0 || (p.revents & POLLIN) == 0) {
        if (Clock::now() - lastInput > std::chrono::milliseconds(kIdleResetMs)) {
          std::lock_guard lock(mutex_);
          simulator_->Reset();
        }
        // A hang-up with nothing to read (a device unplugged) must not spin.
        if (ready > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
    }
    const std::size_t n = TakeInput(buffer);
    if (n == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    lastInput = Clock::now();
    Pace(n);
    std::vector<std::uint8_t> answer;
    {
      std::lock_guard lock(mutex_);
      answer = simulator_->Feed(buffer.data(), n);
    }
    if (answer.empty()) continue;
    Pace(answer.size());
    if (!WriteAll(answer.data(), answer.size())) {
      std::lock_guard lock(mutex_);
      error_ = std::string("write: ") + std::strerror(errno);
      continue;
    }
    Note(false, answer.size());
  }
  running_ = false;
}

}  // namespace loadwing::sim
