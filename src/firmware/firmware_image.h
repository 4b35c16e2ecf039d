#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace loadwing {

// The controller a loaded image is for. The values are the machine's own.
enum class FirmwareTarget : std::uint8_t {
  None = 0,
  Module0 = 10,
  Module1 = 11,
  Module2 = 12,
  Module3 = 13,
  Module4 = 14,
  Module5 = 15,
  Module6 = 16,
  Module7 = 17,
  CanModule = 20,
  FanfolderCrossfolder = 64,
  WebC = 128,
};

inline constexpr std::size_t kFirmwareImageSize = 131072;

// The one firmware image: offset 0 is the first byte the controller receives. It has no length
// and no start address; the transfer sends a fixed prefix chosen by the target.
struct FirmwareImage {
  std::array<std::uint8_t, kFirmwareImageSize> data{};
  FirmwareTarget target = FirmwareTarget::None;
};

}  // namespace loadwing
