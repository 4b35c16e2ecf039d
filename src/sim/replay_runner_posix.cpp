#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <thread>

#include "sim/replay_runner.h"

namespace loadwing::sim {

namespace {

using Steady = std::chrono::steady_clock;

struct Pending {
  Steady::time_point due;
  std::vector<std::uint8_t> bytes;
};

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes, const std::atomic<bool>& stop) {
  std::size_t done = 0;
  while (done < bytes.size() && !stop.load()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 10);
    }
  }
  return true;
}

}  // namespace

std::optional<ReplayScript> LoadTrace(const std::string& path, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    error = path + ": not a regular file";
    return std::nullopt;
  }
  if (static_cast<std::uint64_t>(info.st_size) > kMaxTraceBytes) {
    close(fd);
    error = path + ": larger than a trace can be (" + std::to_string(kMaxTraceBytes) + " bytes)";
    return std::nullopt;
  }
  // One read of what is checked: up to one byte beyond the bound, in case the file grew.
  std::string text(static_cast<std::size_t>(info.st_size) + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  text.resize(got);
  std::string why;
  auto script = ParseTrace(text, why);
  if (!script) error = path + ": " + why;
  return script;
}

ReplayOutcome ServeReplay(const ReplayScript& script, int lineFd, const std::atomic<bool>& stop,
                          int quietMs) {
  ReplayOutcome outcome;
  ReplayMachine machine(script);
  std::deque<Pending> pending;
  const auto queue = [&](std::vector<ReplayAnswer> answers) {
    Steady::time_point at = Steady::now();
    for (ReplayAnswer& answer : answers) {
      at = std::max(at, Steady::now() + std::chrono::microseconds(answer.delayUs));
      if (!pending.empty()) at = std::max(at, pending.back().due);
      pending.push_back({at, std::move(answer.bytes)});
    }
  };
  queue(machine.Start());
  Steady::time_point lastActivity = Steady::now();
  std::uint8_t buffer[4096];
  while (!stop.load()) {
    while (!pending.empty() && pending.front().due <= Steady::now()) {
      if (!WriteAll(lineFd, pending.front().bytes, stop)) {
        outcome.error = std::string("write: ") + std::strerror(errno);
        return outcome;
      }
      pending.pop_front();
      lastActivity = Steady::now();
    }
    // After a departure the line stays open and silent, as the recorded machine had no answer,
    // until the loader has given up (its longest wait between two sends is 3 s).
    const auto quiet = Steady::now() - lastActivity;
    if ((machine.Mismatch() && quiet > std::chrono::milliseconds(std::max(quietMs, 3500))) ||
        (machine.Finished() && pending.empty() && quiet > std::chrono::milliseconds(quietMs))) {
      break;
    }
    int wait = 20;
    if (!pending.empty()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(pending.front().due -
                                                                              Steady::now());
      wait = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 20));
    }
    pollfd p{lineFd, POLLIN, 0};
    if (poll(&p, 1, wait) <= 0 || (p.revents & POLLIN) == 0) {
      // A pty whose host side is closed reports POLLHUP at once: do not spin on it.
      if ((p.revents & (POLLHUP | POLLERR)) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
      continue;
    }
    const ssize_t n = read(lineFd, buffer, sizeof buffer);
    if (n <= 0) continue;
    lastActivity = Steady::now();
    if (machine.Mismatch()) continue;
    queue(machine.Feed(buffer, static_cast<std::size_t>(n)));
  }
  outcome.finished = machine.Finished();
  outcome.mismatch = machine.Mismatch();
  outcome.surplus = machine.Surplus();
  return outcome;
}

}  // namespace loadwing::sim
