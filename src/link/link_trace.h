#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "link/d2xx.h"
#include "link/serial_port.h"

namespace loadwing {

// Where trace lines go: each call is one whole line with its '\n', to be handed to the system at
// once so that a crash keeps everything before it. False when it could not be written.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual bool WriteLine(std::string_view line) = 0;
};

inline constexpr const char* kTraceHeader = "# loadwing trace 1";
// Bytes of one write or read shown on one line; a longer transfer takes several lines.
inline constexpr std::uint32_t kTraceBytesPerLine = 512;

// Writes the trace of one link: "<microseconds> <word> [arguments]" a line, the time counted from
// the first line. The words and their arguments are listed in docs/trace.md. A sink that fails
// once is given up (the link goes on; Failed() tells).
class LinkTrace {
 public:
  LinkTrace(TraceSink& sink, FineClock& clock);

  void Event(std::string_view text);
  // A write ("write") or read ("read") of n bytes.
  void Bytes(std::string_view word, const std::uint8_t* data, std::uint32_t n);
  // A poll that found nothing (the cable never waits): counted, written as one "idle" line before
  // the next line, so that a busy wait does not fill the disk.
  void Idle();
  bool Failed() const { return failed_; }

 private:
  void Line(std::string_view text);
  void FlushIdle();

  TraceSink& sink_;
  FineClock& clock_;
  std::int64_t start_ = 0;
  std::uint64_t idlePolls_ = 0;
  std::int64_t idleSince_ = 0;
  bool failed_ = false;
  std::string line_;
};

// A serial port that traces every call it passes on to the real one.
class TracingSerialPort final : public SerialPort {
 public:
  TracingSerialPort(SerialPort& inner, LinkTrace& trace) : inner_(inner), trace_(trace) {}

  bool Open(const std::string& devicePath) override;
  bool SetCommState(const SerialLineSettings& settings) override;
  bool SetCommTimeouts(const SerialTimeouts& timeouts) override;
  bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool Purge() override;
  bool Read(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& got) override;
  bool Write(const std::uint8_t* data, std::uint32_t n, std::uint32_t& written) override;
  void Close() override;
  bool IsOpen() const override { return inner_.IsOpen(); }

 private:
  SerialPort& inner_;
  LinkTrace& trace_;
};

// The cable's D2XX table, traced. Queue polls that find nothing count as idle.
class TracingD2xx final : public D2xx {
 public:
  TracingD2xx(D2xx& inner, LinkTrace& trace) : inner_(inner), trace_(trace) {}

  FtStatus ListDevices(void* arg1, void* arg2, std::uint32_t flags) override;
  FtStatus Open(int index, FtHandle* handle) override;
  FtStatus Close(FtHandle handle) override;
  FtStatus Read(FtHandle handle, void* buffer, std::uint32_t n, std::uint32_t* got) override;
  FtStatus Write(FtHandle handle, void* buffer, std::uint32_t n, std::uint32_t* written) override;
  FtStatus SetBaudRate(FtHandle handle, std::uint32_t baud) override;
  FtStatus SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                  std::uint8_t parity) override;
  FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* queued) override;

 private:
  D2xx& inner_;
  LinkTrace& trace_;
};

}  // namespace loadwing
