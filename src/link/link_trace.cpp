#include "link/link_trace.h"

#include <algorithm>

namespace loadwing {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Names a device path on one line without spaces or control characters: those become %XX.
std::string Escaped(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7F || c == '%') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Outcome(bool ok) {
  return ok ? "" : " failed";
}

std::string Status(FtStatus status) {
  return status == kFtOk ? "" : " failed " + std::to_string(status);
}

}  // namespace

LinkTrace::LinkTrace(TraceSink& sink, FineClock& clock)
    : sink_(sink), clock_(clock), start_(clock.NowMicros()) {
  failed_ = !sink_.WriteLine(std::string(kTraceHeader) + "\n");
}

void LinkTrace::Line(std::string_view text) {
  if (failed_) return;
  line_ = std::to_string(std::max<std::int64_t>(0, clock_.NowMicros() - start_));
  line_ += ' ';
  line_ += text;
  line_ += '\n';
  if (!sink_.WriteLine(line_)) failed_ = true;
}

void LinkTrace::FlushIdle() {
  if (idlePolls_ == 0) return;
  const std::uint64_t polls = idlePolls_;
  idlePolls_ = 0;
  Line("idle " + std::to_string(polls) + " " +
       std::to_string(std::max<std::int64_t>(0, clock_.NowMicros() - idleSince_)));
}

void LinkTrace::Event(std::string_view text) {
  FlushIdle();
  Line(text);
}

void LinkTrace::Bytes(std::string_view word, const std::uint8_t* data, std::uint32_t n) {
  FlushIdle();
  std::uint32_t done = 0;
  do {
    const std::uint32_t count = std::min(n - done, kTraceBytesPerLine);
    std::string text(word);
    text += ' ';
    text += std::to_string(count);
    text += ' ';
    for (std::uint32_t i = 0; i < count; ++i) {
      text += kHex[data[done + i] >> 4];
      text += kHex[data[done + i] & 0xF];
    }
    Line(text);
    done += count;
  } while (done < n);
}

void LinkTrace::Idle() {
  if (idlePolls_ == 0) idleSince_ = clock_.NowMicros();
  ++idlePolls_;
}

bool TracingSerialPort::Open(const std::string& devicePath) {
  const bool ok = inner_.Open(devicePath);
  trace_.Event("open " + Escaped(devicePath) + Outcome(ok));
  return ok;
}

bool TracingSerialPort::SetCommState(const SerialLineSettings& settings) {
  const bool ok = inner_.SetCommState(settings);
  trace_.Event("line " + std::to_string(settings.baudRate) + " " +
               std::to_string(settings.byteSize) + " " + std::to_string(settings.parity) + " " +
               std::to_string(settings.stopBits) + Outcome(ok));
  return ok;
}

bool TracingSerialPort::SetCommTimeouts(const SerialTimeouts& t) {
  const bool ok = inner_.SetCommTimeouts(t);
  trace_.Event("timeouts " + std::to_string(t.readIntervalTimeout) + " " +
               std::to_string(t.readTotalTimeoutMultiplier) + " " +
               std::to_string(t.readTotalTimeoutConstant) + " " +
               std::to_string(t.writeTotalTimeoutMultiplier) + " " +
               std::to_string(t.writeTotalTimeoutConstant) + Outcome(ok));
  return ok;
}

bool TracingSerialPort::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
  const bool ok = inner_.SetupComm(inQueue, outQueue);
  trace_.Event("queues " + std::to_string(inQueue) + " " + std::to_string(outQueue) + Outcome(ok));
  return ok;
}

bool TracingSerialPort::Purge() {
  const bool ok = inner_.Purge();
  trace_.Event("purge" + Outcome(ok));
  return ok;
}

bool TracingSerialPort::Read(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& got) {
  const bool ok = inner_.Read(buffer, n, got);
  if (!ok) {
    trace_.Event("read-failed " + std::to_string(n));
  } else if (got == 0) {
    trace_.Event("wait " + std::to_string(n));
  } else {
    trace_.Bytes("read", buffer, std::min(got, n));
  }
  return ok;
}

bool TracingSerialPort::Write(const std::uint8_t* data, std::uint32_t n, std::uint32_t& written) {
  const bool ok = inner_.Write(data, n, written);
  if (written > 0) trace_.Bytes("write", data, std::min(written, n));
  if (!ok || written < n) {
    trace_.Event("write-short " + std::to_string(n) + " " + std::to_string(written) + Outcome(ok));
  }
  return ok;
}

void TracingSerialPort::Close() {
  const bool wasOpen = inner_.IsOpen();
  inner_.Close();
  if (wasOpen) trace_.Event("close");
}

FtStatus TracingD2xx::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  return inner_.ListDevices(arg1, arg2, flags);
}

FtStatus TracingD2xx::Open(int index, FtHandle* handle) {
  const FtStatus status = inner_.Open(index, handle);
  trace_.Event("usb-open " + std::to_string(index) + Status(status));
  return status;
}

FtStatus TracingD2xx::Close(FtHandle handle) {
  const FtStatus status = inner_.Close(handle);
  trace_.Event("close" + Status(status));
  return status;
}

FtStatus TracingD2xx::Read(FtHandle handle, void* buffer, std::uint32_t n, std::uint32_t* got) {
  const FtStatus status = inner_.Read(handle, buffer, n, got);
  const std::uint32_t count = got == nullptr ? 0 : std::min(*got, n);
  if (status != kFtOk) {
    trace_.Event("read-failed " + std::to_string(n) + Status(status));
  } else if (count == 0) {
    trace_.Idle();
  } else {
    trace_.Bytes("read", static_cast<const std::uint8_t*>(buffer), count);
  }
  return status;
}

FtStatus TracingD2xx::Write(FtHandle handle, void* buffer, std::uint32_t n,
                            std::uint32_t* written) {
  const FtStatus status = inner_.Write(handle, buffer, n, written);
  const std::uint32_t count = written == nullptr ? 0 : std::min(*written, n);
  if (count > 0) trace_.Bytes("write", static_cast<const std::uint8_t*>(buffer), count);
  if (status != kFtOk || count < n) {
    trace_.Event("write-short " + std::to_string(n) + " " + std::to_string(count) + Status(status));
  }
  return status;
}

FtStatus TracingD2xx::SetBaudRate(FtHandle handle, std::uint32_t baud) {
  const FtStatus status = inner_.SetBaudRate(handle, baud);
  trace_.Event("usb-baud " + std::to_string(baud) + Status(status));
  return status;
}

FtStatus TracingD2xx::SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                             std::uint8_t stopBits, std::uint8_t parity) {
  const FtStatus status = inner_.SetDataCharacteristics(handle, wordLength, stopBits, parity);
  trace_.Event("usb-format " + std::to_string(wordLength) + " " + std::to_string(stopBits) + " " +
               std::to_string(parity) + Status(status));
  return status;
}

FtStatus TracingD2xx::GetQueueStatus(FtHandle handle, std::uint32_t* queued) {
  const FtStatus status = inner_.GetQueueStatus(handle, queued);
  if (status != kFtOk || queued == nullptr || *queued == 0) trace_.Idle();
  return status;
}

}  // namespace loadwing
