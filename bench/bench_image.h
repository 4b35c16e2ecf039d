#pragma once
#include <cstdint>
#include <string>

#include "firmware/firmware_image.h"

namespace loadwing::bench {

// The image the benchmarks send: the same pseudo-random bytes on every run, so that runs
// compare, for the target named on the command line (module, main or webc).
inline void FillBenchImage(FirmwareImage& image, const std::string& which) {
  image.target = which == "webc"   ? FirmwareTarget::WebC
                 : which == "main" ? FirmwareTarget::FanfolderCrossfolder
                                   : FirmwareTarget::Module3;
  std::uint32_t x = 12345;
  for (std::uint8_t& b : image.data) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
}

}  // namespace loadwing::bench
