#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "flash/check_byte.h"

namespace loadwing {

inline constexpr std::size_t kBlockDataSize = 256;
inline constexpr std::size_t kBlockFrameSize = kBlockDataSize + 1;

// One block on the wire: 256 image bytes followed by their sum modulo 256.
struct BlockFrame {
  std::array<std::uint8_t, kBlockFrameSize> bytes{};

  // Fills the frame from 256 image bytes and folds them into check, in sending order.
  void Build(const std::uint8_t* data, ImageCheckByte& check) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kBlockDataSize; ++i) {
      bytes[i] = data[i];
      sum = static_cast<std::uint8_t>(sum + data[i]);
      check.Update(data[i]);
    }
    bytes[kBlockDataSize] = sum;
  }
  std::uint8_t sum() const { return bytes[kBlockDataSize]; }
};

}  // namespace loadwing
