#include "flash/loopback_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fakes/delayed_far_end.h"

namespace loadwing {
namespace {

using testing::DelayedFarEnd;
using Bytes = std::vector<std::uint8_t>;

// What the plug does to the bytes of the stream, counted from the first byte written.
struct Plug {
  const char* name;
  std::int64_t delayUs = 0;
  std::int64_t dropAt = -1;    // this byte never comes back
  std::int64_t changeAt = -1;  // this byte comes back with its low bit flipped
  bool silent = false;
};

// A loopback plug on a fake link.
struct LoopbackRig : testing::FarEndLink {
  explicit LoopbackRig(const Plug& plug, bool usb = false)
      : FarEndLink(
            [this, plug](const std::uint8_t* data, std::uint32_t n) {
              std::vector<DelayedFarEnd::Answer> answers;
              if (plug.silent) return answers;
              Bytes back;
              for (std::uint32_t i = 0; i < n; ++i, ++streamed) {
                if (streamed == plug.dropAt) continue;
                back.push_back(streamed == plug.changeAt ? data[i] ^ 1 : data[i]);
              }
              answers.push_back({plug.delayUs, back});
              return answers;
            },
            usb) {}
  std::int64_t streamed = 0;
};

struct LoopbackCase {
  Plug plug;
  LoopbackVerdict verdict;
  const char* pattern;  // where it fails; empty when it passes
};

class LoopbackVerdicts : public ::testing::TestWithParam<std::tuple<LoopbackCase, bool>> {};

TEST_P(LoopbackVerdicts, NamesWhatThePlugDid) {
  const auto& [c, usb] = GetParam();
  LoopbackRig rig(c.plug, usb);
  const LoopbackReport report = RunLoopbackTest(rig.link, rig.clock);
  EXPECT_EQ(report.verdict, c.verdict);
  EXPECT_EQ(report.pattern, c.pattern);
  if (c.verdict == LoopbackVerdict::BytesChanged) {
    // Byte 7 of the stream is the third byte of "every byte value" after five probe bytes.
    EXPECT_EQ(report.offset, 2u);
    EXPECT_EQ(report.expected, 2);
    EXPECT_EQ(report.got, 3);
  }
  if (c.verdict == LoopbackVerdict::Carries || c.verdict == LoopbackVerdict::SlowDelivery) {
    EXPECT_GE(report.latencyUs + LineMicros(1), c.plug.delayUs);
    EXPECT_GT(report.bytesPerSecond, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Plugs, LoopbackVerdicts,
    ::testing::Combine(
        ::testing::Values(
            LoopbackCase{{"echo"}, LoopbackVerdict::Carries, ""},
            LoopbackCase{{"slow", 20'000}, LoopbackVerdict::SlowDelivery, ""},
            LoopbackCase{{"silent", 0, -1, -1, true}, LoopbackVerdict::NothingBack, "single byte"},
            LoopbackCase{{"drop", 0, 300}, LoopbackVerdict::BytesLost, "frame"},
            LoopbackCase{{"change", 0, -1, 7}, LoopbackVerdict::BytesChanged, "every byte value"}),
        ::testing::Bool()),
    [](const auto& param) {
      return std::string(std::get<0>(param.param).plug.name) +
             (std::get<1>(param.param) ? "_usb" : "_serial");
    });

TEST(LoopbackTest, MeasuresTheDrainAndEstimatesABlock) {
  // The fake cable's empty poll costs 1 ms: fine enough to see a 3 ms delay.
  LoopbackRig rig(Plug{"echo", 3'000}, true);
  const LoopbackReport report = RunLoopbackTest(rig.link, rig.clock);
  ASSERT_EQ(report.verdict, LoopbackVerdict::Carries);
  EXPECT_EQ(report.drainUs, 1'000);
  EXPECT_EQ(BlockEstimateUs(report), LineMicros(257) + 1'000 + report.latencyUs);
  EXPECT_GE(report.latencyUs, 3'000 - LineMicros(1));
  EXPECT_LE(report.latencyUs, 4'000);
}

TEST(LoopbackTest, NeverSendsARequestCode) {
  LoopbackRig rig(Plug{"echo"});
  ASSERT_EQ(RunLoopbackTest(rig.link, rig.clock).verdict, LoopbackVerdict::Carries);
  const Bytes& sent = rig.Sent();
  ASSERT_GT(sent.size(), 700u);
  for (const char* code : {"128", "064", "MO0", "MO3", "MO7", "CAN"}) {
    EXPECT_EQ(std::search(sent.begin(), sent.end(), code, code + 3), sent.end()) << code;
  }
}

TEST(LoopbackTest, TheSenderRefusesARequestCodeEvenAcrossTwoSends) {
  LoopbackRig rig(Plug{"echo"});
  RequestFreeSender sender(rig.link);
  EXPECT_TRUE(sender.Send({0x01, 'M', 'O'}));
  EXPECT_FALSE(sender.Send({'3', 0x02}));
  EXPECT_TRUE(sender.Refused());
  EXPECT_FALSE(sender.Send({'C', 'A', 'N'}));
  EXPECT_TRUE(sender.Send({'M', 'O', '8'}));
  EXPECT_EQ(rig.serial.sent, (Bytes{0x01, 'M', 'O', 'M', 'O', '8'}));
}

}  // namespace
}  // namespace loadwing
