#include <array>
#include <cstddef>

#include "flash/flash_transfer.h"

namespace loadwing {

namespace {

// Copies the characters of the literals without their terminators: on the wire the texts have
// none.
template <std::size_t kCode, std::size_t kPrefix, std::size_t kReady>
constexpr FlashTargetInfo Row(FirmwareTarget target, const char (&code)[kCode],
                              const char (&prefix)[kPrefix], const char (&ready)[kReady],
                              std::uint32_t imageSize) {
  static_assert(kCode == 4 && kPrefix == 5 && kReady == 7);
  FlashTargetInfo row{target, {}, {}, {}, imageSize};
  for (std::size_t i = 0; i < 3; ++i) row.requestCode[i] = code[i];
  for (std::size_t i = 0; i < 4; ++i) row.eraseErrorPrefix[i] = prefix[i];
  for (std::size_t i = 0; i < 6; ++i) row.readyAnswer[i] = ready[i];
  return row;
}

constexpr std::array<FlashTargetInfo, 11> kFlashTargets = {
    Row(FirmwareTarget::WebC, "128", "128E", "128OK1", 0x20000),
    Row(FirmwareTarget::FanfolderCrossfolder, "064", "064E", "064OK1", 0x10000),
    Row(FirmwareTarget::Module0, "MO0", "MO0E", "MO0OK1", 0x8000),
    Row(FirmwareTarget::Module1, "MO1", "MO1E", "MO1OK1", 0x8000),
    Row(FirmwareTarget::Module2, "MO2", "MO2E", "MO2OK1", 0x8000),
    Row(FirmwareTarget::Module3, "MO3", "MO3E", "MO3OK1", 0x8000),
    Row(FirmwareTarget::Module4, "MO4", "MO4E", "MO4OK1", 0x8000),
    Row(FirmwareTarget::Module5, "MO5", "MO5E", "MO5OK1", 0x8000),
    Row(FirmwareTarget::Module6, "MO6", "MO6E", "MO6OK1", 0x8000),
    Row(FirmwareTarget::Module7, "MO7", "MO7E", "MO7OK1", 0x8000),
    Row(FirmwareTarget::CanModule, "CAN", "CANE", "CANOK1", 0x8000),
};

}  // namespace

const FlashTargetInfo* FindFlashTargetInfo(FirmwareTarget target) {
  for (const FlashTargetInfo& row : kFlashTargets) {
    if (row.target == target) return &row;
  }
  return nullptr;
}

}  // namespace loadwing
