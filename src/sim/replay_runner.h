#pragma once
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/trace_replay.h"

namespace loadwing::sim {

// Reads a trace file: a regular file only (a FIFO or device is refused without blocking), at
// most kMaxTraceBytes, read once.
std::optional<ReplayScript> LoadTrace(const std::string& path, std::string& error);

struct ReplayOutcome {
  bool finished = false;  // every recorded exchange was played
  std::optional<ReplayMismatch> mismatch;
  std::uint64_t surplus = 0;  // bytes the loader sent beyond the trace
  std::string error;          // the line failed
};

// Plays the machine of script on lineFd (non-blocking) until every exchange has been played and
// the line stayed quiet for quietMs, the loader departs from the trace, or stop is set. Answers
// go out their recorded delay after the byte that made them due.
ReplayOutcome ServeReplay(const ReplayScript& script, int lineFd, const std::atomic<bool>& stop,
                          int quietMs = 1000);

}  // namespace loadwing::sim
