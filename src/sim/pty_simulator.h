#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/machine_simulator.h"

namespace loadwing::sim {

// Runs a MachineSimulator in a background thread on a serial line: a pseudo-terminal it creates
// (the host opens DevicePath()) or a given serial device. With a baud rate in the configuration
// the answers are delayed by the line time of what came in and what goes out.
class PtySimulator {
 public:
  // A transfer left half done for this long (the host went away) is dropped.
  static constexpr int kIdleResetMs = 5000;

  PtySimulator() = default;
  ~PtySimulator();
  PtySimulator(const PtySimulator&) = delete;
  PtySimulator& operator=(const PtySimulator&) = delete;

  // Empty devicePath: creates a pseudo-terminal in raw mode. False (see Error()) when the line
  // cannot be opened or the simulator runs already.
  bool Start(const SimulatorConfig& config, const std::string& devicePath = "");
  // The path the host should open (the pty's slave side, or the given device).
  std::string DevicePath() const;
  std::string Error() const;
  bool Running() const { return running_.load(); }
  // Stops the thread and closes the line; harmless when not running.
  void Stop();
  // A snapshot of what the machine has seen so far.
  SimulatorReport Report() const;

 private:
  void Run();
  bool WriteAll(const std::uint8_t* data, std::size_t n);

  mutable std::mutex mutex_;
  std::unique_ptr<MachineSimulator> simulator_;  // guarded by mutex_
  std::string devicePath_;
  std::string error_;
  int lineFd_ = -1;  // the side the machine reads and writes
  int holdFd_ = -1;  // the pty's slave, held open so the line survives the host's close
  std::uint32_t baud_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace loadwing::sim
