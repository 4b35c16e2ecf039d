#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "flash/flash_transfer.h"

namespace loadwing {
namespace {

struct Row {
  FirmwareTarget target;
  std::string code, prefix, ready;
  std::uint32_t imageSize;
};

TEST(FlashTargetInfoTest, HoldsTheElevenTargets) {
  const Row rows[] = {
      {FirmwareTarget::WebC, "128", "128E", "128OK1", 131072},
      {FirmwareTarget::FanfolderCrossfolder, "064", "064E", "064OK1", 65536},
      {FirmwareTarget::Module0, "MO0", "MO0E", "MO0OK1", 32768},
      {FirmwareTarget::Module1, "MO1", "MO1E", "MO1OK1", 32768},
      {FirmwareTarget::Module2, "MO2", "MO2E", "MO2OK1", 32768},
      {FirmwareTarget::Module3, "MO3", "MO3E", "MO3OK1", 32768},
      {FirmwareTarget::Module4, "MO4", "MO4E", "MO4OK1", 32768},
      {FirmwareTarget::Module5, "MO5", "MO5E", "MO5OK1", 32768},
      {FirmwareTarget::Module6, "MO6", "MO6E", "MO6OK1", 32768},
      {FirmwareTarget::Module7, "MO7", "MO7E", "MO7OK1", 32768},
      {FirmwareTarget::CanModule, "CAN", "CANE", "CANOK1", 32768},
  };
  for (const Row& row : rows) {
    const FlashTargetInfo* info = FindFlashTargetInfo(row.target);
    ASSERT_NE(info, nullptr) << row.code;
    EXPECT_EQ(info->target, row.target);
    EXPECT_EQ(std::string(info->requestCode, 3), row.code);
    EXPECT_EQ(std::string(info->eraseErrorPrefix, 4), row.prefix);
    EXPECT_EQ(std::string(info->readyAnswer, 6), row.ready);
    EXPECT_EQ(info->imageSize, row.imageSize) << row.code;
  }
}

TEST(FlashTargetInfoTest, HasNoRowForNoneOrValuesOutsideTheTable) {
  for (int value : {0, 1, 9, 18, 21, 63, 65, 127, 129, 255}) {
    EXPECT_EQ(FindFlashTargetInfo(static_cast<FirmwareTarget>(value)), nullptr) << value;
  }
}

}  // namespace
}  // namespace loadwing
