#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_d2xx.h"
#include "fakes/fake_serial_port.h"
#include "fakes/fake_status_view.h"
#include "link/link_io.h"

namespace loadwing {
namespace {

using testing::FakeClock;
using testing::FakeD2xx;
using testing::FakeSerialPort;
using testing::FakeStatusView;
using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return bytes;
}

class LinkIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UsbLink::ResetListedForTesting();
    d2xx.devices.push_back({kUsbCableDescription, {}, {}, false});
    serial.open = true;
  }
  void TearDown() override { UsbLink::ResetListedForTesting(); }

  void UseSerial() { id = SerialConnection(3); }
  void UseUsb() {
    ASSERT_TRUE(usb.OpenByIndex(0, 38400, 0, 0, 8));
    id = kUsbConnection;
    d2xx.ClearCalls();
  }
  std::deque<std::uint8_t>& cableIncoming() { return d2xx.devices[0].incoming; }

  FakeClock clock;
  FakeSerialPort serial{&clock};
  FakeD2xx d2xx{&clock};
  UsbLink usb{d2xx};
  FakeStatusView view;
  ConnectionId id = kNoConnection;
  LinkIo io{id, serial, usb, view, clock};
};

// --- WriteBytes ---

struct ChunkCase {
  std::uint32_t n;
  std::vector<std::uint32_t> writes;
};

void PrintTo(const ChunkCase& c, std::ostream* os) {
  *os << "n " << c.n;
}

class LinkIoChunkTest : public LinkIoTest, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(LinkIoChunkTest, SerialWritesGoOutIn128BytePiecesAfterOnePurge) {
  UseSerial();
  const Bytes data = Pattern(GetParam().n);
  EXPECT_TRUE(io.WriteBytes(data.data(), GetParam().n));
  EXPECT_EQ(serial.writeSizes, GetParam().writes);
  EXPECT_EQ(serial.sent, data);
  EXPECT_EQ(std::count(serial.calls.begin(), serial.calls.end(), "Purge"), 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LinkIoChunkTest,
                         ::testing::Values(ChunkCase{257, {128, 128, 1}}, ChunkCase{3, {3}},
                                           ChunkCase{0, {}}, ChunkCase{128, {128}},
                                           ChunkCase{256, {128, 128}}),
                         [](const auto& p) { return std::to_string(p.index); });

TEST_F(LinkIoTest, SerialWriteDiscardsWhatArrivedBefore) {
  UseSerial();
  serial.Receive("stale answer");
  bool inputEmptyAtWrite = false;
  serial.onWrite = [&](const std::uint8_t*, std::uint32_t) {
    inputEmptyAtWrite = serial.incoming.empty();
  };
  const Bytes data = Pattern(3);
  EXPECT_TRUE(io.WriteBytes(data.data(), 3));
  EXPECT_TRUE(inputEmptyAtWrite);
}

TEST_F(LinkIoTest, PartialSerialWritesContinueWithTheRest) {
  UseSerial();
  serial.maxBytesPerWrite = 50;
  const Bytes data = Pattern(257);
  EXPECT_TRUE(io.WriteBytes(data.data(), 257));
  EXPECT_EQ(serial.sent, data);
  for (std::uint32_t size : serial.writeSizes) EXPECT_LE(size, LinkIo::kSerialWriteChunk);
}

TEST_F(LinkIoTest, SerialWriteFailureIsReportedAndResetsProgress) {
  UseSerial();
  view.SetProgressPos(17);
  // The second piece fails: the first stays sent.
  serial.onWrite = [&](const std::uint8_t*, std::uint32_t) { serial.failWrite = true; };
  const Bytes data = Pattern(257);
  EXPECT_FALSE(io.WriteBytes(data.data(), 257));
  EXPECT_EQ(view.statusText, " Write COM: write error");
  ASSERT_FALSE(view.shown.empty());
  EXPECT_EQ(view.shown.back(), " Write COM: write error");
  EXPECT_EQ(view.progressPos, 0);
  EXPECT_EQ(serial.sent, Bytes(data.begin(), data.begin() + 128));
  EXPECT_EQ(serial.writeSizes.size(), 2u);
}

TEST_F(LinkIoTest, PortThatKeepsTakingNothingIsGivenUp) {
  UseSerial();
  serial.maxBytesPerWrite = 0;
  const Bytes data = Pattern(10);
  EXPECT_FALSE(io.WriteBytes(data.data(), 10));
  EXPECT_EQ(view.statusText, " Write COM: write error");
  EXPECT_GT(serial.writeSizes.size(), static_cast<std::size_t>(LinkIo::kMaxEmptyWrites));
  EXPECT_LE(serial.writeSizes.size(), static_cast<std::size_t>(LinkIo::kMaxEmptyWrites) + 1);
}

TEST_F(LinkIoTest, OnlyEmptyWritesInARowCountAgainstTheBound) {
  UseSerial();
  // Alternately nothing and 10 bytes: far more empty writes in all than the bound allows in a
  // row, yet the port makes progress.
  serial.maxBytesPerWrite = 0;
  serial.onWrite = [&](const std::uint8_t*, std::uint32_t) {
    serial.maxBytesPerWrite = serial.maxBytesPerWrite == 0 ? 10 : 0;
  };
  const Bytes data = Pattern(1000);
  EXPECT_TRUE(io.WriteBytes(data.data(), 1000));
  EXPECT_EQ(serial.sent, data);
  EXPECT_TRUE(view.statusText.empty());
}

TEST_F(LinkIoTest, UsbWriteIsOneCallAndPurgesNothing) {
  UseUsb();
  cableIncoming() = {9, 9};
  const Bytes data = Pattern(257);
  EXPECT_TRUE(io.WriteBytes(data.data(), 257));
  EXPECT_EQ(d2xx.calls, (std::vector<std::string>{"Write 257"}));
  EXPECT_EQ(d2xx.devices[0].written, data);
  EXPECT_EQ(cableIncoming().size(), 2u);
  EXPECT_TRUE(serial.calls.empty());
}

TEST_F(LinkIoTest, FailedUsbWriteIsNotReported) {
  UseUsb();
  d2xx.writeStatus = kFtOtherError;
  const Bytes data = Pattern(5);
  EXPECT_TRUE(io.WriteBytes(data.data(), 5));
  EXPECT_TRUE(view.shown.empty());
}

TEST_F(LinkIoTest, WriteWithoutLinkSendsNothing) {
  const Bytes data = Pattern(5);
  EXPECT_TRUE(io.WriteBytes(data.data(), 5));
  EXPECT_TRUE(serial.writeSizes.empty());
  EXPECT_TRUE(serial.calls.empty());
  EXPECT_TRUE(d2xx.calls.empty());
}

// --- ReadBytes: the time limit ---

struct LimitCase {
  bool usb;
  std::int64_t callOffsetMs;  // where in its second the call begins
  std::int64_t answerAfterMs;
  bool taken;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
  *os << (c.usb ? "usb" : "serial") << ", call at +" << c.callOffsetMs << " ms, answer after "
      << c.answerAfterMs << " ms";
}

class LinkIoLimitTest : public LinkIoTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(LinkIoLimitTest, AnswerWithinTheLimitIsTakenOneAfterLimitPlusOneNever) {
  const LimitCase& c = GetParam();
  if (c.usb) {
    UseUsb();
  } else {
    UseSerial();
  }
  clock.AdvanceMs(c.callOffsetMs);
  const std::int64_t call = clock.Millis();
  bool arrived = false;
  auto arrive = [&] {
    if (arrived || clock.Millis() < call + c.answerAfterMs) return;
    arrived = true;
    if (c.usb) {
      for (char ch : std::string("SUCCES"))
        cableIncoming().push_back(static_cast<std::uint8_t>(ch));
    } else {
      serial.Receive("SUCCES");
    }
  };
  serial.onRead = arrive;
  d2xx.onQueueStatus = arrive;

  std::uint8_t buffer[8] = {};
  const std::int32_t got = io.ReadBytes(buffer, 6, 40, false);
  if (c.taken) {
    EXPECT_EQ(got, 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), "SUCCES");
  } else {
    EXPECT_EQ(got, 0);
    EXPECT_EQ(buffer[0], 0);
    // It gave up at the first check past the limit, not later.
    EXPECT_LE(clock.Millis() - call, 42'000);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, LinkIoLimitTest,
    ::testing::Values(LimitCase{false, 0, 39'985, true}, LimitCase{false, 500, 39'985, true},
                      LimitCase{false, 999, 39'985, true}, LimitCase{false, 0, 41'001, false},
                      LimitCase{false, 999, 41'001, false}, LimitCase{false, 0, 40'500, true},
                      LimitCase{true, 0, 39'999, true}, LimitCase{true, 999, 39'999, true},
                      LimitCase{true, 0, 41'001, false}, LimitCase{true, 999, 41'001, false}),
    [](const auto& p) { return std::to_string(p.index); });

TEST_F(LinkIoTest, PartialAnswerStandsAtTheStartOfTheBuffer) {
  UseSerial();
  serial.Receive("abc");
  std::uint8_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  EXPECT_EQ(io.ReadBytes(buffer, 6, 3, false), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "abc");
  EXPECT_EQ(buffer[3], 0xEE) << "the buffer is not terminated";
}

TEST_F(LinkIoTest, SerialReadsOneBytePerCall) {
  UseSerial();
  serial.Receive("abcdef");
  std::uint8_t buffer[6] = {};
  EXPECT_EQ(io.ReadBytes(buffer, 6, 3, false), 6);
  EXPECT_EQ(serial.reads, 6);
}

TEST_F(LinkIoTest, UsbReadAsksForWhatRemains) {
  UseUsb();
  cableIncoming() = {1, 2};
  d2xx.onQueueStatus = [&] {
    if (cableIncoming().empty() && d2xx.calls.size() > 2) cableIncoming() = {3, 4, 5, 6, 7, 8};
  };
  std::uint8_t buffer[6] = {};
  EXPECT_EQ(io.ReadBytes(buffer, 6, 3, false), 6);
  EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_NE(std::find(d2xx.calls.begin(), d2xx.calls.end(), "Read 2"), d2xx.calls.end());
  EXPECT_NE(std::find(d2xx.calls.begin(), d2xx.calls.end(), "Read 4"), d2xx.calls.end());
  EXPECT_EQ(cableIncoming().size(), 2u);
}

TEST_F(LinkIoTest, ZeroBytesWantedReturnsAtOnceWithAnEmptyString) {
  UseSerial();
  serial.Receive("x");
  std::uint8_t buffer[2] = {'z', 'z'};
  EXPECT_EQ(io.ReadBytes(buffer, 0, 40, false), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(serial.reads, 0);
  EXPECT_TRUE(view.positions.empty());
}

TEST_F(LinkIoTest, ZeroBytesWantedWithProgressSetsTheRangeAndReturnsToZero) {
  UseSerial();
  view.SetProgressPos(9);
  view.positions.clear();
  std::uint8_t buffer[1] = {'z'};
  EXPECT_EQ(io.ReadBytes(buffer, 0, 40, true), 0);
  EXPECT_EQ(view.rangeCalls, 1);
  EXPECT_EQ(view.progressMax, 40);
  EXPECT_EQ(view.positions, (std::vector<std::int32_t>{0, 0}));
  EXPECT_EQ(buffer[0], 0);
}

class LinkIoRefusedLimitTest : public LinkIoTest,
                               public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(LinkIoRefusedLimitTest, LimitOfZeroOrLessReadsNothing) {
  UseSerial();
  serial.Receive("abc");
  std::uint8_t buffer[4] = {'z', 'z', 'z', 'z'};
  EXPECT_EQ(io.ReadBytes(buffer, 3, GetParam(), true), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(serial.reads, 0);
}

INSTANTIATE_TEST_SUITE_P(Limits, LinkIoRefusedLimitTest, ::testing::Values(0, -1, -40));

TEST_F(LinkIoTest, ProgressShowsTheSecondsWaitedAndEndsAtZero) {
  UseSerial();
  std::uint8_t buffer[4] = {};
  const std::int64_t start = clock.Millis();
  EXPECT_EQ(io.ReadBytes(buffer, 3, 3, true), 0);
  EXPECT_EQ(view.progressMax, 3);
  ASSERT_GE(view.positions.size(), 3u);
  EXPECT_EQ(view.positions.front(), 0);
  EXPECT_EQ(view.positions.back(), 0);
  EXPECT_EQ(*std::max_element(view.positions.begin(), view.positions.end()), 3);
  EXPECT_TRUE(std::is_sorted(view.positions.begin(), view.positions.end() - 1));
  EXPECT_GT(clock.Millis() - start, 3'000);
  EXPECT_LE(clock.Millis() - start, 4'015);
}

TEST_F(LinkIoTest, WithoutLinkReadEndsByItsLimit) {
  clock.stepMsPerRead = 1;
  std::uint8_t buffer[4] = {'z'};
  const std::int64_t start = clock.Millis();
  EXPECT_EQ(io.ReadBytes(buffer, 3, 2, false), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_GT(clock.Millis() - start, 2'000);
  EXPECT_LE(clock.Millis() - start, 3'010);
  EXPECT_EQ(serial.reads, 0);
  EXPECT_TRUE(d2xx.calls.empty());
}

TEST_F(LinkIoTest, LinkClosedDuringAReadTurnsItIntoTheNoLinkCase) {
  clock.stepMsPerRead = 1;
  UseSerial();
  serial.Receive("a");
  serial.onRead = [&] { id = kNoConnection; };
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(io.ReadBytes(buffer, 3, 1, false), 1);
  EXPECT_EQ(serial.reads, 1);
}

TEST_F(LinkIoTest, LinkClosedBetweenCallsTurnsThemIntoTheNoLinkCase) {
  UseSerial();
  const Bytes data = Pattern(4);
  EXPECT_TRUE(io.WriteBytes(data.data(), 4));
  id = kNoConnection;  // a device change dispatched while the transfer pumped messages
  serial.Receive("late");
  EXPECT_TRUE(io.WriteBytes(data.data(), 4));
  io.DrainInput();
  EXPECT_EQ(serial.writeSizes.size(), 1u);
  EXPECT_EQ(serial.incoming.size(), 4u);
}

// --- DrainInput ---

TEST_F(LinkIoTest, SerialDrainReadsUntilAnEmptyRead) {
  UseSerial();
  serial.Receive("xyz");
  io.DrainInput();
  EXPECT_TRUE(serial.incoming.empty());
  EXPECT_EQ(serial.reads, 4);
}

TEST_F(LinkIoTest, SerialDrainOnASilentLineCostsOneRead) {
  UseSerial();
  io.DrainInput();
  EXPECT_EQ(serial.reads, 1);
}

TEST_F(LinkIoTest, SerialDrainEndsAtAFailingRead) {
  UseSerial();
  serial.Receive("xyz");
  serial.failRead = true;
  io.DrainInput();
  EXPECT_EQ(serial.reads, 1);
}

TEST_F(LinkIoTest, SerialDrainOfALineThatNeverFallsSilentIsBounded) {
  UseSerial();
  serial.onRead = [&] {
    serial.Receive("x");
    clock.AdvanceMs(1);
  };
  const std::int64_t start = clock.Millis();
  io.DrainInput();
  EXPECT_GT(serial.reads, 100);
  EXPECT_LE(clock.Millis() - start, 4'000);
}

TEST_F(LinkIoTest, UsbDrainTakesOneByteAtATimeUntilTheQueueIsEmpty) {
  UseUsb();
  cableIncoming() = {1, 2, 3};
  io.DrainInput();
  EXPECT_TRUE(cableIncoming().empty());
  EXPECT_EQ(d2xx.calls,
            (std::vector<std::string>{"GetQueueStatus", "Read 1", "GetQueueStatus", "Read 1",
                                      "GetQueueStatus", "Read 1", "GetQueueStatus"}));
  EXPECT_TRUE(serial.calls.empty());
  EXPECT_EQ(serial.reads, 0);
}

TEST_F(LinkIoTest, UsbDrainOfACableThatNeverFallsSilentIsBounded) {
  UseUsb();
  d2xx.onQueueStatus = [&] {
    cableIncoming().push_back(1);
    clock.AdvanceMs(1);
  };
  const std::int64_t start = clock.Millis();
  io.DrainInput();
  EXPECT_LE(clock.Millis() - start, 4'000);
}

TEST_F(LinkIoTest, DrainWithoutLinkDoesNothing) {
  serial.Receive("x");
  io.DrainInput();
  EXPECT_EQ(serial.reads, 0);
  EXPECT_TRUE(d2xx.calls.empty());
}

TEST_F(LinkIoTest, PumpMessagesLetsTheViewRunItsQueue) {
  io.PumpMessages();
  EXPECT_EQ(view.pumps, 1);
}

}  // namespace
}  // namespace loadwing
