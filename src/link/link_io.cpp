#include "link/link_io.h"

#include <algorithm>

#include "link/link_connect.h"

namespace loadwing {

namespace {
// A line that never falls silent (a babbling device) must not hold the drain for ever.
constexpr std::int64_t kDrainLimitSeconds = 2;
}  // namespace

void LinkIo::DrainInput() {
  const LinkKind kind = KindOf(connectionId_);
  if (kind == LinkKind::None) return;
  const std::int64_t start = clock_.Now();
  std::uint8_t scratch = 0;
  for (;;) {
    std::uint32_t got = 0;
    if (kind == LinkKind::Serial) {
      // A failing read reports 0 bytes and ends the drain.
      static_cast<void>(serial_.Read(&scratch, 1, got));
    } else {
      got = usb_.Read(&scratch, 1);
    }
    if (got == 0 || Cancelled()) return;
    if (clock_.Now() - start > kDrainLimitSeconds) return;
  }
}

bool LinkIo::WriteBytes(const std::uint8_t* data, std::uint32_t n) {
  switch (KindOf(connectionId_)) {
    case LinkKind::Serial: {
      static_cast<void>(serial_.Purge());  // a port that cannot purge still sends
      std::uint32_t sent = 0;
      int emptyWrites = 0;
      while (sent < n) {
        const std::uint32_t chunk = std::min(n - sent, kSerialWriteChunk);
        std::uint32_t written = 0;
        const bool ok = serial_.Write(data + sent, chunk, written);
        if (ok && written == 0)
          ++emptyWrites;
        else
          emptyWrites = 0;
        if (!ok || emptyWrites > kMaxEmptyWrites) {
          view_.SetStatus(kWriteErrorText);
          view_.SetProgressPos(0);
          return false;
        }
        sent += std::min(written, chunk);
      }
      return true;
    }
    case LinkKind::Usb:
      // A failed cable write shows only as a missing answer later.
      static_cast<void>(usb_.Write(data, n));
      return true;
    case LinkKind::None:
      return true;
  }
  return true;
}

std::uint32_t LinkIo::ReadOnce(std::uint8_t* buffer, std::uint32_t remaining) {
  switch (KindOf(connectionId_)) {
    case LinkKind::Serial: {
      std::uint32_t got = 0;
      // One byte per call, whatever remains; a failing read reports 0 bytes.
      static_cast<void>(serial_.Read(buffer, 1, got));
      return std::min<std::uint32_t>(got, 1);
    }
    case LinkKind::Usb:
      return std::min(usb_.Read(buffer, remaining), remaining);
    case LinkKind::None:
      return 0;
  }
  return 0;
}

std::int32_t LinkIo::ReadBytes(std::uint8_t* buffer, std::uint32_t n, std::int32_t limit,
                               bool showProgress) {
  if (limit <= 0) {
    // Without a limit the wait would end only when n bytes came: refuse it.
    buffer[0] = 0;
    return 0;
  }
  const std::int64_t start = clock_.Now();
  if (showProgress) {
    view_.SetProgressRange(static_cast<std::uint32_t>(limit));
    view_.SetProgressPos(0);
  }
  std::uint32_t received = 0;
  std::uint32_t remaining = n;
  while (remaining > 0) {
    const std::int64_t elapsed = clock_.Now() - start;
    if (elapsed > limit || Cancelled()) break;
    if (showProgress) view_.SetProgressPos(static_cast<std::int32_t>(elapsed));
    const std::uint32_t got = ReadOnce(buffer + received, remaining);
    received += got;
    remaining -= got;
  }
  if (showProgress) view_.SetProgressPos(0);
  if (received == 0) buffer[0] = 0;
  return static_cast<std::int32_t>(received);
}

}  // namespace loadwing
