#pragma once
#include <cstdint>
#include <functional>

namespace loadwing::testing {

// The calls of the fake serial port and the fake cable that move bytes or wait for them.
enum class LinkCall { Purge, QueueStatus, Read, Write };

// What a link can do to one call, the way real links fail.
enum class LinkFault {
  None,
  Fail,     // the call fails
  Silence,  // nothing arrives, though bytes may be waiting
  Close,    // the device goes away before the call
  Garbage,  // a garbage byte in place of the first byte read
  Partial,  // a write takes only partialBytes
};

// Fault injection for the fake ports. before is asked at the start of each call, with the size
// asked for or offered, what befalls it; after is told what the call did.
struct LinkFaults {
  std::function<LinkFault(LinkCall, std::uint32_t size)> before;
  std::function<void(LinkCall, bool ok, std::uint32_t bytes)> after;
  std::uint8_t garbage = 0x7E;
  std::uint32_t partialBytes = 0;

  LinkFault Before(LinkCall call, std::uint32_t size) const {
    return before ? before(call, size) : LinkFault::None;
  }
  bool After(LinkCall call, bool ok, std::uint32_t bytes) const {
    if (after) after(call, ok, bytes);
    return ok;
  }
};

}  // namespace loadwing::testing
