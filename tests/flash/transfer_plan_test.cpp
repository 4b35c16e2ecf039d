#include "flash/transfer_plan.h"

#include <gtest/gtest.h>

#include <string>

#include "core/sha256.h"
#include "fakes/fake_firmware_files.h"

namespace loadwing {
namespace {

using testing::FakeFirmwareFileSystem;

std::string Sha256OfText(const std::string& text) {
  return Sha256Hex(*Sha256Of(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// A file replaced between two reads (a sync client, a script) must not give one fingerprint for
// the check and other bytes for the machine: everything comes from the first and only read.
TEST(TransferPlanTest, EverythingComesFromOneRead) {
  const std::string hex = ":03001000010203E7\r\n:0100FF0042BE\r\n:00000001FF\r\n";
  FakeFirmwareFileSystem files;
  files.content = hex;
  files.laterContent = ":03001000FFFFFFEE\r\n:00000001FF\r\n";
  const TransferPlan plan = MakeTransferPlan("main.hex", files);
  ASSERT_TRUE(plan.loaded()) << plan.outcome.statusText;
  EXPECT_EQ(files.opens, 1);
  EXPECT_EQ(plan.fileSha256, Sha256OfText(hex));
  EXPECT_EQ(plan.image->data[0x10], 0x01);
  EXPECT_EQ(plan.sentSha256, Sha256Hex(*Sha256Of(plan.image->data.data(), 0x10000)));
  EXPECT_EQ(plan.imageSize, 0x10000u);
  EXPECT_EQ(plan.blocks, 256u);
  EXPECT_EQ(plan.bytesBeyond, 0u);
}

TEST(TransferPlanTest, WarningsAndFingerprintsFollowTheLoad) {
  struct Case {
    const char* path;
    std::string content;
    bool loaded;
    bool fileSha;  // the whole file was read, so it has a fingerprint
    std::uint32_t skipped, unknown, beyond;
  };
  const Case cases[] = {
      // A start address (03), a zero linear base (04), a record of type 07 taken as data, and a
      // data record reaching past 0xFFFF.
      {"a.hex",
       ":0400000300001000E9\r\n:020000040000FA\r\n:01002007AA2E\r\n:02FFFF000102FD\r\n"
       ":00000001FF\r\n",
       true, true, 2, 1, 1},
      {"cut.hex", ":03001000010203E7\r\n", false, true, 0, 0, 0},
      {"empty.mot", "", false, true, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    FakeFirmwareFileSystem files;
    files.content = c.content;
    const TransferPlan plan = MakeTransferPlan(c.path, files);
    EXPECT_EQ(plan.loaded(), c.loaded) << plan.outcome.statusText;
    EXPECT_EQ(plan.fileSha256.empty(), !c.fileSha);
    EXPECT_EQ(plan.sentSha256.empty(), !c.loaded);
    EXPECT_EQ(plan.SkippedAddressRecords(), c.skipped);
    EXPECT_EQ(plan.UnknownRecordsTakenAsData(), c.unknown);
    EXPECT_EQ(plan.bytesBeyond, c.beyond);
  }
  FakeFirmwareFileSystem unreadable;
  unreadable.failRead = true;
  unreadable.content = "S8";
  const TransferPlan plan = MakeTransferPlan("x.mot", unreadable);
  EXPECT_EQ(plan.outcome.failure, LoadFailure::ReadFailed);
  EXPECT_TRUE(plan.fileSha256.empty()) << "no fingerprint of bytes that were not read";
}

}  // namespace
}  // namespace loadwing
