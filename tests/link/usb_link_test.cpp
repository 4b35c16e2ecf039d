#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/fake_d2xx.h"
#include "link/usb_link.h"

namespace loadwing {
namespace {

using testing::FakeD2xx;
using Calls = std::vector<std::string>;

const std::string kCable = kUsbCableDescription;

class UsbLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { UsbLink::ResetListedForTesting(); }
  void TearDown() override { UsbLink::ResetListedForTesting(); }
  void Attach(const std::string& description) {
    d2xx.devices.push_back({description, {}, {}, false});
  }
  bool OpenCable(UsbLink& link) { return link.OpenByDescription(kCable, 38400, 0, 0, 8); }

  FakeD2xx d2xx;
};

TEST_F(UsbLinkTest, FindListsCountThenDescriptions) {
  Attach("FT232R USB UART");
  Attach(kCable);
  UsbLink link(d2xx);
  EXPECT_EQ(link.FindByDescription(kCable), 1);
  EXPECT_EQ(d2xx.calls, (Calls{"ListDevices count", "ListDevices all"}));
  EXPECT_EQ(d2xx.lastListFlags, kFtListAll | kFtOpenByDescription);
}

TEST_F(UsbLinkTest, TwoCablesWithTheSameDescriptionGiveTheLowerIndex) {
  Attach("other");
  Attach(kCable);
  Attach(kCable);
  UsbLink link(d2xx);
  EXPECT_EQ(link.FindByDescription(kCable), 1);
  ASSERT_TRUE(OpenCable(link));
  EXPECT_TRUE(d2xx.devices[1].open);
  EXPECT_FALSE(d2xx.devices[2].open);
}

TEST_F(UsbLinkTest, NoCableSetsListedAndFindsNothing) {
  UsbLink link(d2xx);
  EXPECT_EQ(link.FindByDescription(kCable), -1);
  d2xx.ClearCalls();
  EXPECT_TRUE(link.EnsureListed());
  EXPECT_TRUE(d2xx.calls.empty()) << "a listing had already succeeded";
}

TEST_F(UsbLinkTest, FoundCableLeavesListedUnset) {
  Attach(kCable);
  UsbLink link(d2xx);
  ASSERT_EQ(link.FindByDescription(kCable), 0);
  d2xx.ClearCalls();
  EXPECT_TRUE(link.EnsureListed());
  EXPECT_EQ(d2xx.calls, (Calls{"ListDevices count", "ListDevices all"}));
  d2xx.ClearCalls();
  EXPECT_TRUE(link.EnsureListed());
  EXPECT_TRUE(d2xx.calls.empty());
}

struct NoMatchCase {
  const char* what;
  std::string attached;
  std::string wanted;
};

void PrintTo(const NoMatchCase& c, std::ostream* os) {
  *os << c.what;
}

class UsbLinkNoMatchTest : public UsbLinkTest, public ::testing::WithParamInterface<NoMatchCase> {};

TEST_P(UsbLinkNoMatchTest, WholeStringsByteForByte) {
  Attach(GetParam().attached);
  UsbLink link(d2xx);
  EXPECT_EQ(link.FindByDescription(GetParam().wanted), -1);
}

INSTANTIATE_TEST_SUITE_P(Descriptions, UsbLinkNoMatchTest,
                         ::testing::Values(NoMatchCase{"case", "USB <-> ORV Serial Device", kCable},
                                           NoMatchCase{"longer", kCable + "X", kCable},
                                           NoMatchCase{"shorter",
                                                       kCable.substr(0, kCable.size() - 1), kCable},
                                           NoMatchCase{"cut to 63 by the listing",
                                                       std::string(70, 'D'), std::string(70, 'D')}),
                         [](const auto& p) { return std::to_string(p.index); });

TEST_F(UsbLinkTest, DescriptionOf63CharactersMatches) {
  Attach(std::string(63, 'D'));
  UsbLink link(d2xx);
  EXPECT_EQ(link.FindByDescription(std::string(63, 'D')), 0);
}

TEST_F(UsbLinkTest, UnterminatedDescriptionIsComparedWithinItsBuffer) {
  Attach("x");
  Attach("y");
  d2xx.fillDescriptions = 'A';
  UsbLink link(d2xx);
  EXPECT_EQ(link.FindByDescription(std::string(64, 'A')), 0);
  EXPECT_EQ(link.FindByDescription(std::string(65, 'A')), -1);
}

TEST_F(UsbLinkTest, FailedCountQueryFindsNothingAndDoesNotList) {
  Attach(kCable);
  d2xx.countStatus = kFtOtherError;
  UsbLink link(d2xx);
  EXPECT_EQ(link.FindByDescription(kCable), -1);
  EXPECT_EQ(d2xx.calls, (Calls{"ListDevices count"}));
  EXPECT_FALSE(link.EnsureListed());
}

TEST_F(UsbLinkTest, FailedListingFindsNothingAndLeavesListedUnset) {
  Attach(kCable);
  d2xx.listStatus = kFtOtherError;
  UsbLink link(d2xx);
  EXPECT_EQ(link.FindByDescription(kCable), -1);
  EXPECT_FALSE(link.EnsureListed());
  EXPECT_FALSE(OpenCable(link));
}

TEST_F(UsbLinkTest, AbsurdCountIsAFailedListing) {
  Attach(kCable);
  d2xx.reportedCount = 0xFFFFFFFFu;  // also what a count of -1 looks like
  UsbLink link(d2xx);
  EXPECT_EQ(link.FindByDescription(kCable), -1);
  EXPECT_FALSE(link.EnsureListed());
  for (const std::string& call : d2xx.calls) EXPECT_NE(call, "ListDevices all");
}

TEST_F(UsbLinkTest, CountAboveTheDevicesListedLeavesTheRestEmpty) {
  Attach(kCable);
  d2xx.reportedCount = 4;
  UsbLink link(d2xx);
  EXPECT_EQ(link.FindByDescription(kCable), 0);
  EXPECT_EQ(link.FindByDescription(""), 1);
}

TEST_F(UsbLinkTest, OpenByDescriptionRunsTheWholeSequence) {
  Attach(kCable);
  UsbLink link(d2xx);
  ASSERT_TRUE(link.OpenByDescription(kCable, 19200, 2, 0, 7));
  EXPECT_TRUE(link.isOpen());
  // Found, so not yet listed: OpenByIndex lists before it opens.
  EXPECT_EQ(d2xx.calls,
            (Calls{"ListDevices count", "ListDevices all", "ListDevices count", "ListDevices all",
                   "Open 0", "SetBaudRate 19200", "SetDataCharacteristics 7 0 2"}));
}

TEST_F(UsbLinkTest, OpenWhileOpenClosesFirst) {
  Attach(kCable);
  UsbLink link(d2xx);
  ASSERT_TRUE(link.OpenByIndex(0, 38400, 0, 0, 8));
  d2xx.ClearCalls();
  ASSERT_TRUE(link.OpenByIndex(0, 38400, 0, 0, 8));
  // The first open listed already; the second only closes and opens.
  EXPECT_EQ(d2xx.calls,
            (Calls{"Close", "Open 0", "SetBaudRate 38400", "SetDataCharacteristics 8 0 0"}));
}

TEST_F(UsbLinkTest, RefusedCloseKeepsTheOldDeviceOpen) {
  Attach(kCable);
  UsbLink link(d2xx);
  ASSERT_TRUE(link.OpenByIndex(0, 38400, 0, 0, 8));
  d2xx.closeStatus = kFtOtherError;
  d2xx.ClearCalls();
  EXPECT_FALSE(link.OpenByIndex(0, 38400, 0, 0, 8));
  EXPECT_TRUE(link.isOpen());
  EXPECT_EQ(d2xx.calls.back(), "Close");
  EXPECT_FALSE(link.Close());
  EXPECT_TRUE(link.isOpen());
  d2xx.closeStatus = kFtOk;
  EXPECT_TRUE(link.Close());
  EXPECT_FALSE(link.isOpen());
  EXPECT_FALSE(d2xx.devices[0].open);
}

struct FailedStepCase {
  const char* what;
  FtStatus FakeD2xx::*status;
  Calls tail;  // the calls after the listing
};

void PrintTo(const FailedStepCase& c, std::ostream* os) {
  *os << c.what;
}

class UsbLinkFailedOpenTest : public UsbLinkTest,
                              public ::testing::WithParamInterface<FailedStepCase> {};

TEST_P(UsbLinkFailedOpenTest, LeavesNoDeviceOpen) {
  Attach(kCable);
  d2xx.*(GetParam().status) = kFtOtherError;
  UsbLink link(d2xx);
  ASSERT_TRUE(link.EnsureListed());
  d2xx.ClearCalls();
  EXPECT_FALSE(link.OpenByIndex(0, 38400, 0, 0, 8));
  EXPECT_FALSE(link.isOpen());
  EXPECT_FALSE(d2xx.devices[0].open);
  EXPECT_EQ(d2xx.calls, GetParam().tail);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, UsbLinkFailedOpenTest,
    ::testing::Values(
        FailedStepCase{"open", &FakeD2xx::openStatus, {"Open 0"}},
        FailedStepCase{"baud", &FakeD2xx::baudStatus, {"Open 0", "SetBaudRate 38400", "Close"}},
        FailedStepCase{"data",
                       &FakeD2xx::dataStatus,
                       {"Open 0", "SetBaudRate 38400", "SetDataCharacteristics 8 0 0", "Close"}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST_F(UsbLinkTest, OpenByDescriptionWithoutTheCableOpensNothing) {
  Attach("other");
  UsbLink link(d2xx);
  EXPECT_FALSE(OpenCable(link));
  for (const std::string& call : d2xx.calls) EXPECT_EQ(call.rfind("Open", 0), std::string::npos);
}

TEST_F(UsbLinkTest, CloseOfAClosedLinkCallsNothing) {
  UsbLink link(d2xx);
  EXPECT_TRUE(link.Close());
  EXPECT_TRUE(d2xx.calls.empty());
}

TEST_F(UsbLinkTest, DestructorClosesTheDevice) {
  Attach(kCable);
  {
    UsbLink link(d2xx);
    ASSERT_TRUE(OpenCable(link));
    d2xx.ClearCalls();
  }
  EXPECT_EQ(d2xx.calls, (Calls{"Close"}));
  EXPECT_FALSE(d2xx.devices[0].open);
}

TEST_F(UsbLinkTest, WriteHandsTheWholeBufferToOneCall) {
  Attach(kCable);
  UsbLink link(d2xx);
  ASSERT_TRUE(OpenCable(link));
  d2xx.ClearCalls();
  std::vector<std::uint8_t> data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(link.Write(data.data(), 300), 300u);
  EXPECT_EQ(d2xx.calls, (Calls{"Write 300"}));
  EXPECT_EQ(d2xx.devices[0].written, data);
}

TEST_F(UsbLinkTest, WriteCountsOnlyWhatTheDriverTook) {
  Attach(kCable);
  UsbLink link(d2xx);
  ASSERT_TRUE(link.OpenByDescription(kCable, 38400, 0, 0, 8));
  const std::uint8_t data[10] = {};
  d2xx.maxBytesPerWrite = 7;
  EXPECT_EQ(link.Write(data, 10), 7u);
  d2xx.writeStatus = kFtOtherError;
  EXPECT_EQ(link.Write(data, 10), 0u);
}

struct ReadCase {
  std::uint32_t queued;
  std::uint32_t asked;
  std::uint32_t expected;
  std::string readCall;  // empty: FT_Read must not be called
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << "queued " << c.queued << ", asked " << c.asked;
}

class UsbLinkReadTest : public UsbLinkTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(UsbLinkReadTest, ReadsAtMostWhatIsQueued) {
  const ReadCase& c = GetParam();
  Attach(kCable);
  for (std::uint32_t i = 0; i < c.queued; ++i) {
    d2xx.devices[0].incoming.push_back(static_cast<std::uint8_t>(i + 1));
  }
  UsbLink link(d2xx);
  ASSERT_TRUE(OpenCable(link));
  d2xx.ClearCalls();
  std::vector<std::uint8_t> buffer(c.asked + 1, 0xEE);
  EXPECT_EQ(link.Read(buffer.data(), c.asked), c.expected);
  Calls expectedCalls{"GetQueueStatus"};
  if (!c.readCall.empty()) expectedCalls.push_back(c.readCall);
  EXPECT_EQ(d2xx.calls, expectedCalls);
  for (std::uint32_t i = 0; i < c.expected; ++i) EXPECT_EQ(buffer[i], i + 1);
  EXPECT_EQ(buffer[c.asked], 0xEE) << "nothing beyond the asked length";
  EXPECT_EQ(d2xx.devices[0].incoming.size(), c.queued - c.expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, UsbLinkReadTest,
                         ::testing::Values(ReadCase{0, 64, 0, ""}, ReadCase{5, 64, 5, "Read 5"},
                                           ReadCase{100, 1, 1, "Read 1"},
                                           ReadCase{64, 64, 64, "Read 64"}),
                         [](const auto& p) { return std::to_string(p.index); });

TEST_F(UsbLinkTest, ReadNeverReportsMoreThanItAskedFor) {
  Attach(kCable);
  d2xx.devices[0].incoming = {1, 2, 3};
  d2xx.readOverstatement = 1000;
  UsbLink link(d2xx);
  ASSERT_TRUE(link.OpenByDescription(kCable, 38400, 0, 0, 8));
  std::uint8_t buffer[8] = {};
  EXPECT_EQ(link.Read(buffer, 8), 3u);
}

TEST_F(UsbLinkTest, ClosedLinkNeverHandsItsHandleToTheDriver) {
  Attach(kCable);
  UsbLink link(d2xx);
  ASSERT_TRUE(OpenCable(link));
  ASSERT_TRUE(link.Close());
  d2xx.devices[0].incoming = {1};
  d2xx.ClearCalls();
  std::uint8_t byte = 0;
  EXPECT_EQ(link.Write(&byte, 1), 0u);
  EXPECT_EQ(link.Read(&byte, 1), 0u);
  EXPECT_TRUE(d2xx.calls.empty());
}

}  // namespace
}  // namespace loadwing
