// Loading from files the operating system fails to read.
#include <gtest/gtest.h>

#include <memory>

#include "firmware/firmware_loader.h"

namespace loadwing {
namespace {

#ifdef __linux__
TEST(FirmwareFilePosixTest, AnIntelHexFileThatFailsToReadEndsTheLoad) {
  // Reading this process's memory from offset 0 fails with EIO: a real read error, which the
  // standard file buffer reports by throwing.
  auto image = std::make_unique<FirmwareImage>();
  image->target = FirmwareTarget::WebC;
  const LoadOutcome outcome = LoadFirmwareFile("/proc/self/mem", *image);
  EXPECT_EQ(outcome.statusText, " load firmware: unexpected end of file");
  EXPECT_EQ(image->target, FirmwareTarget::None);
}
#endif

}  // namespace
}  // namespace loadwing
