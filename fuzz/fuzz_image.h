#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "firmware/firmware_image.h"
#include "firmware/record_decoders.h"

namespace loadwing::fuzz {

// An image between two guard zones: a write that strays out of image.data shows as a changed
// guard, even where the address sanitizer sees only one valid object.
struct GuardedImage {
  static constexpr std::uint8_t kGuard = 0xA5;
  std::uint8_t fill = 0x5A;  // what the image holds before each decode
  std::array<std::uint8_t, 4096> before{};
  FirmwareImage image;
  std::array<std::uint8_t, 4096> after{};

  void Reset() {
    before.fill(kGuard);
    after.fill(kGuard);
    image.data.fill(fill);
    image.target = FirmwareTarget::None;
  }
  bool GuardsIntact() const {
    const auto intact = [](const auto& zone) {
      return std::all_of(zone.begin(), zone.end(), [](std::uint8_t b) { return b == kGuard; });
    };
    return intact(before) && intact(after);
  }
};

// Stops the run where an invariant fails, so libFuzzer keeps the input.
inline void Require(bool condition) {
  if (!condition) std::abort();
}

inline bool IsDecodeResult(DecodeResult result) {
  switch (result) {
    case DecodeResult::Complete:
    case DecodeResult::TextEnded:
    case DecodeResult::ChecksumMismatch:
    case DecodeResult::RecordOutOfRange:
      return true;
  }
  return false;
}

}  // namespace loadwing::fuzz
