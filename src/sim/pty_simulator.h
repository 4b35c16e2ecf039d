#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/machine_simulator.h"

namespace loadwing::sim {

// The machine's side of a line: a new pseudo-terminal in raw mode (empty devicePath; the host
// opens devicePath, and holdFd keeps the line alive across the host's close) or the given
// device. lineFd is non-blocking.
struct SimLine {
  int lineFd = -1;
  int holdFd = -1;
  std::string devicePath;
};
bool OpenSimLine(const std::string& devicePath, std::uint32_t baud, SimLine& line,
                 std::string& error);

// One moment on the line as the machine saw it, for measuring the host's pace from this side.
struct LineEvent {
  std::int64_t monotonicNs = 0;  // CLOCK_MONOTONIC (std::chrono::steady_clock)
  bool in = false;               // in: bytes that came from the host; out: an answer written
  std::uint32_t bytes = 0;
};

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

  // Before Start: keeps a LineEvent for every piece read from the line (the moment it was read,
  // before the pacing of that piece) and for every answer (the moment its last byte was
  // written, after its pacing). While the machine paces a piece it keeps reading the line, so
  // the moments of later pieces are their arrival too; what it answers and when is the same.
  void KeepTimeline(bool keep) { keepTimeline_ = keep; }
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
  // The events kept so far, oldest first (empty unless KeepTimeline(true)).
  std::vector<LineEvent> Timeline() const;

 private:
  void Run();
  bool WriteAll(const std::uint8_t* data, std::size_t n);
  // Waits the line time of n bytes; with a timeline, reading the line into pending_ meanwhile.
  void Pace(std::size_t n);
  // Reads what the line holds now (after what pending_ holds) into buffer; 0 when nothing.
  std::size_t TakeInput(std::vector<std::uint8_t>& buffer);
  void Note(bool in, std::size_t bytes);

  mutable std::mutex mutex_;
  std::unique_ptr<MachineSimulator> simulator_;  // guarded by mutex_
  std::string devicePath_;
  std::string error_;
  int lineFd_ = -1;  // the side the machine reads and writes
  int holdFd_ = -1;  // the pty's slave, held open so the line survives the host's close
  std::uint32_t baud_ = 0;
  bool keepTimeline_ = false;
  std::vector<LineEvent> timeline_;    // guarded by mutex_
  std::vector<std::uint8_t> pending_;  // read while pacing, not yet fed; the thread's own
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace loadwing::sim
