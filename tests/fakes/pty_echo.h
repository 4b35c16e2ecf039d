#pragma once
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty_simulator.h"

namespace loadwing::testing {

// A loopback plug on a pseudo-terminal: a thread sends back what the host writes, or drops one
// byte of the stream, or holds each piece back, or says nothing. POSIX only.
class PtyEcho {
 public:
  struct Plug {
    std::int64_t dropAt = -1;  // this byte of the stream never comes back
    int delayMs = 0;           // each piece comes back this late
    bool silent = false;
  };

  explicit PtyEcho(Plug plug) : plug_(plug) {
    std::string error;
    if (!sim::OpenSimLine("", 0, line_, error)) return;
    thread_ = std::thread([this] { Run(); });
  }
  ~PtyEcho() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (line_.lineFd >= 0) close(line_.lineFd);
    if (line_.holdFd >= 0) close(line_.holdFd);
  }
  PtyEcho(const PtyEcho&) = delete;
  PtyEcho& operator=(const PtyEcho&) = delete;

  // The device the host opens; empty when no pseudo-terminal could be made.
  const std::string& DevicePath() const { return line_.devicePath; }

 private:
  void Run() {
    std::uint8_t buffer[512];
    while (!stop_) {
      pollfd p{line_.lineFd, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0 || (p.revents & POLLIN) == 0) continue;
      const ssize_t n = read(line_.lineFd, buffer, sizeof buffer);
      if (n <= 0 || plug_.silent) continue;
      std::vector<std::uint8_t> back;
      for (ssize_t i = 0; i < n; ++i, ++streamed_) {
        if (streamed_ != plug_.dropAt) back.push_back(buffer[i]);
      }
      if (plug_.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(plug_.delayMs));
      for (std::size_t done = 0; done < back.size();) {
        const ssize_t w = write(line_.lineFd, back.data() + done, back.size() - done);
        if (w > 0) done += static_cast<std::size_t>(w);
        if (w <= 0 && stop_) break;
      }
    }
  }

  Plug plug_;
  sim::SimLine line_;
  std::int64_t streamed_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace loadwing::testing
