#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/clock.h"
#include "link/link_io.h"

namespace loadwing {

// The check of a link whose transmit line is joined to its receive line (a loopback plug): no
// machine is on the line, so whatever goes out must come back unchanged and in order.
//
// Failure is reported one way: the verdict, with the figures that led to it.
enum class LoopbackVerdict {
  Carries,       // every byte came back; the latency is within what the line affords
  NothingBack,   // not one byte came back: no plug, the wrong port, or a dead adapter
  BytesLost,     // fewer bytes came back than went out
  BytesChanged,  // a byte came back changed or out of order
  SlowDelivery,  // all came back, but the adapter holds received bytes back too long
  WriteFailed,   // the link refused to send
};

struct LoopbackReport {
  LoopbackVerdict verdict = LoopbackVerdict::NothingBack;
  std::string pattern;         // the pattern that failed ("every byte value", "frame", "burst")
  std::uint32_t sent = 0;      // bytes of that pattern sent
  std::uint32_t received = 0;  // and received
  std::uint32_t offset = 0;    // BytesChanged: the first byte that differs
  std::uint8_t expected = 0, got = 0;
  // Measured, in microseconds; 0 where the test ended before measuring.
  std::int64_t latencyUs = 0;    // median delivery delay of one byte beyond its line time
  std::int64_t roundTripUs = 0;  // the 257-byte frame, from the first byte sent to the last back
  std::int64_t drainUs = 0;      // one drain of a quiet line, as before each block
  double bytesPerSecond = 0;     // the burst's effective rate
  // Bytes came back faster than the line speed allows: not a real serial line, or the adapter
  // did not take the speed.
  bool fasterThanLine = false;
};

// Above this the adapter's delivery latency is far beyond the line's own time for an answer.
inline constexpr std::int64_t kLatencyBudgetUs = 10'000;
// Line time in microseconds of n bytes at 38400 baud, 10 bits a byte.
constexpr std::int64_t LineMicros(std::uint32_t n) {
  return static_cast<std::int64_t>(n) * 10 * 1'000'000 / 38400;
}
// What one block of a transfer will take over this link: its line time, the drain before it
// and the acknowledgement's delivery.
std::int64_t BlockEstimateUs(const LoopbackReport& report);

// Sends only what can never start a transfer: a byte sequence that holds any controller's request
// code (a request erases a controller) is refused whole, also when it would only complete one
// begun by the bytes sent before it.
class RequestFreeSender {
 public:
  explicit RequestFreeSender(LinkIo& link) : link_(link) {}
  // True when the bytes went out; false when refused (nothing is sent) or the link failed.
  [[nodiscard]] bool Send(const std::vector<std::uint8_t>& bytes);
  // True when bytes, following those sent so far, would hold a request code.
  bool WouldRequest(const std::vector<std::uint8_t>& bytes) const;
  bool Refused() const { return refused_; }

 private:
  LinkIo& link_;
  std::vector<std::uint8_t> tail_;  // the last bytes sent, shorter than a request code
  bool refused_ = false;
};

// Runs the check over an open link: single bytes for the latency, every byte value, a full frame
// and a block-sized burst, then one drain of the quiet line. Stops at the first failure. Reads
// only until the line time of a pattern plus a generous margin has passed.
LoopbackReport RunLoopbackTest(LinkIo& link, FineClock& clock);

}  // namespace loadwing
