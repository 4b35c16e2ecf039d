#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "link/link_trace.h"

namespace loadwing::cli {

// The file a --trace option names: created for this run only (an existing name is refused unless
// replace is given, and then only a regular file is replaced), never a device, FIFO or link.
// Every line goes to the system as it comes, unbuffered, so a crash keeps what was written.
class TraceFile final : public TraceSink {
 public:
  // Null with error set (the system's reason, or what to do) when the file cannot be made.
  static std::unique_ptr<TraceFile> Create(const std::string& path, bool replace,
                                           std::string& error);
  ~TraceFile() override;
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  bool WriteLine(std::string_view line) override;

 private:
  TraceFile() = default;
  // A file descriptor on POSIX, a HANDLE on Windows.
  std::intptr_t handle_ = -1;
};

}  // namespace loadwing::cli
