#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fakes/sim_link.h"
#include "flash/block_frame.h"
#include "flash/flash_transfer.h"

namespace loadwing {
namespace {

using sim::RequestReply;
using sim::SimulatorConfig;
using sim::SimulatorPhase;
using sim::VerdictReply;
using testing::sim_link::FilledImage;
using testing::sim_link::PatternImage;
using testing::sim_link::SimLink;
using testing::sim_link::SimLinkKind;

std::string Text(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t n) {
  return std::string(bytes.begin() + from, bytes.begin() + from + n);
}

// After every outcome but the None return: controls enabled again (once disabled first), bar
// at 0.
void ExpectEnded(const SimLink& h) {
  EXPECT_EQ(h.view.enableCalls, (std::vector<bool>{false, true}));
  EXPECT_TRUE(h.view.controlsEnabled);
  EXPECT_EQ(h.view.progressPos, 0);
}

struct OutcomeCase {
  std::string name;
  FirmwareTarget target;
  std::function<void(SimulatorConfig&)> configure;
  FlashOutcome outcome;
  std::string status;
};

std::vector<OutcomeCase> OutcomeCases() {
  return {
      {"completed", FirmwareTarget::Module3, [](SimulatorConfig&) {}, FlashOutcome::Completed,
       " flash: completed"},
      {"no answer", FirmwareTarget::Module3,
       [](SimulatorConfig& c) { c.request = RequestReply::Silent; }, FlashOutcome::NoAnswer,
       " flash: no answer"},
      {"answered wrongly", FirmwareTarget::FanfolderCrossfolder,
       [](SimulatorConfig& c) {
         c.request = RequestReply::Unexpected;
         c.unexpectedAnswer = "128OK1";
       },
       FlashOutcome::UnexpectedAnswer, " flash: unexpected answer 128OK1"},
      {"erase error", FirmwareTarget::FanfolderCrossfolder,
       [](SimulatorConfig& c) { c.request = RequestReply::EraseError; }, FlashOutcome::EraseError,
       " flash: erase error 0AX"},
      {"short erase error", FirmwareTarget::FanfolderCrossfolder,
       [](SimulatorConfig& c) {
         c.request = RequestReply::EraseError;
         c.eraseDetail.clear();
       },
       FlashOutcome::EraseError, " flash: erase error 00"},
      {"erase error code only", FirmwareTarget::CanModule,
       [](SimulatorConfig& c) {
         c.request = RequestReply::EraseError;
         c.eraseDetail = "\xF3";
       },
       FlashOutcome::EraseError, " flash: erase error F3"},
      {"no acknowledgement", FirmwareTarget::Module0,
       [](SimulatorConfig& c) {
         c.refuseBlock = 5;
         c.refuseByte.reset();
       },
       FlashOutcome::NoAnswerWhileFlashing, " flash: no answer while flashing"},
      {"refused block", FirmwareTarget::Module0, [](SimulatorConfig& c) { c.refuseBlock = 5; },
       FlashOutcome::ErrorWhileFlashing, " flash: error while flashing"},
      {"no verdict", FirmwareTarget::Module7,
       [](SimulatorConfig& c) { c.verdict = VerdictReply::Silent; },
       FlashOutcome::NoAnswerAfterFlashing, " flash: no answer after flashing"},
      {"CSFAIL", FirmwareTarget::Module7,
       [](SimulatorConfig& c) {
         c.verdict = VerdictReply::Text;
         c.verdictText = "CSFAIL";
       },
       FlashOutcome::CrcError, " flash: crc error, DATA INVALID"},
      {"ERR", FirmwareTarget::Module7,
       [](SimulatorConfig& c) {
         c.verdict = VerdictReply::Text;
         c.verdictText = "ERR";
       },
       FlashOutcome::NoSuccess, " flash: no success, returncode: ERR"},
      {"long other verdict", FirmwareTarget::Module7,
       [](SimulatorConfig& c) {
         c.verdict = VerdictReply::Text;
         c.verdictText = "FAILURE7";
       },
       FlashOutcome::NoSuccess, " flash: no success, returncode: FAILUR"},
      {"verdict with a zero", FirmwareTarget::Module7,
       [](SimulatorConfig& c) {
         c.verdict = VerdictReply::Text;
         c.verdictText = std::string("NO\0PE!", 6);
       },
       FlashOutcome::NoSuccess, " flash: no success, returncode: NO"},
      {"SUCCES and more", FirmwareTarget::Module7,
       [](SimulatorConfig& c) {
         c.verdict = VerdictReply::Text;
         c.verdictText = "SUCCESS!";
       },
       FlashOutcome::Completed, " flash: completed"},
  };
}

class FlashOutcomeTest : public ::testing::TestWithParam<SimLinkKind> {};

TEST_P(FlashOutcomeTest, EndsWithTheStatusOfEachOutcome) {
  for (const OutcomeCase& c : OutcomeCases()) {
    SCOPED_TRACE(c.name);
    SimulatorConfig config;
    c.configure(config);
    SimLink h(GetParam(), config);
    const FirmwareImage image = PatternImage(c.target);
    EXPECT_EQ(h.Flash(image), c.outcome);
    EXPECT_EQ(h.view.statusText, c.status);
    ASSERT_FALSE(h.view.shown.empty());
    EXPECT_EQ(h.view.shown.back(), c.status);  // shown at the end
    EXPECT_EQ(h.view.shown.front(), " flash: query system...");
    ExpectEnded(h);
  }
}

INSTANTIATE_TEST_SUITE_P(BothLinks, FlashOutcomeTest,
                         ::testing::Values(SimLinkKind::Serial, SimLinkKind::Usb),
                         [](const auto& param) {
                           return param.param == SimLinkKind::Serial ? "Serial" : "Usb";
                         });

TEST(FlashTransferTest, WithoutATargetDoesNothingAtAll) {
  SimLink h(SimLinkKind::Serial);
  h.view.statusText = " firmware path missing";
  const FirmwareImage image = FilledImage(FirmwareTarget::None, 0xFF);
  EXPECT_EQ(h.Flash(image), FlashOutcome::NotStarted);
  EXPECT_TRUE(h.serial.sent.empty());
  EXPECT_TRUE(h.serial.calls.empty());
  EXPECT_EQ(h.serial.reads, 0);
  EXPECT_TRUE(h.view.shown.empty());
  EXPECT_TRUE(h.view.positions.empty());
  EXPECT_EQ(h.view.rangeCalls, 0);
  EXPECT_TRUE(h.view.enableCalls.empty());
  EXPECT_EQ(h.view.repaints, 0);
  EXPECT_EQ(h.view.statusText, " firmware path missing");
  EXPECT_EQ(h.ElapsedMs(), 0);
}

TEST(FlashTransferTest, ASuccessfulRunShowsItsFourTextsInOrder) {
  SimLink h(SimLinkKind::Serial);
  ASSERT_EQ(h.Flash(PatternImage(FirmwareTarget::Module3)), FlashOutcome::Completed);
  std::vector<std::string> distinct;
  for (const std::string& s : h.view.shown)
    if (distinct.empty() || distinct.back() != s) distinct.push_back(s);
  EXPECT_EQ(distinct,
            (std::vector<std::string>{" flash: query system...", " flash: start...",
                                      " flash: wait for success message...", " flash: completed"}));
  EXPECT_EQ(h.view.repaints, 3);  // "show now" for the three progress texts only
}

struct SilentCase {
  std::int64_t startMsInSecond;
  int requests;
};

TEST(FlashTransferTest, ASilentMachineIsAskedSixTimesOrFiveWhenATickFallsBeforeTheFirstRead) {
  // The first read begins after one empty drain read (15 ms).
  for (const SilentCase& c : {SilentCase{0, 6}, SilentCase{500, 6}, SilentCase{990, 5}}) {
    SCOPED_TRACE(c.startMsInSecond);
    SimulatorConfig config;
    config.request = RequestReply::Silent;
    SimLink h(SimLinkKind::Serial, config, 1'700'000'000'000 + c.startMsInSecond);
    const std::int64_t startSecond = h.clock.Now();
    EXPECT_EQ(h.Flash(FilledImage(FirmwareTarget::Module3, 0xFF)), FlashOutcome::NoAnswer);
    EXPECT_EQ(h.machine.Report().requests, static_cast<std::uint32_t>(c.requests));
    EXPECT_EQ(h.serial.sent.size(), 3u * c.requests);
    EXPECT_GT(h.clock.Now() - startSecond, 20);
    // Each unanswered attempt ends at the fourth tick after its read began.
    EXPECT_EQ(h.clock.Now() - startSecond, c.requests == 6 ? 24 : 21);
    EXPECT_EQ(h.view.statusText, " flash: no answer");
    // The texts of the query phase are not shown before the end.
    EXPECT_EQ(std::count(h.view.shown.begin(), h.view.shown.end(), " flash: no answer"), 1);
    EXPECT_EQ(h.view.progressMax, 20);
    // The bar showed the seconds since the start, ending at 0.
    EXPECT_EQ(*std::max_element(h.view.positions.begin(), h.view.positions.end()),
              c.requests == 6 ? 20 : 17);
    ExpectEnded(h);
  }
}

TEST(FlashTransferTest, AnEraseErrorEndsWithoutAFurtherRequest) {
  SimulatorConfig config;
  config.request = RequestReply::EraseError;
  SimLink h(SimLinkKind::Serial, config);
  EXPECT_EQ(h.Flash(FilledImage(FirmwareTarget::FanfolderCrossfolder, 0xFF)),
            FlashOutcome::EraseError);
  EXPECT_EQ(std::string(h.serial.sent.begin(), h.serial.sent.end()), "064");
  EXPECT_EQ(h.view.statusText, " flash: erase error 0AX");
  EXPECT_LT(h.clock.Now() - 1'700'000'000, 4);  // the whole answer came at once: no wait out
}

TEST(FlashTransferTest, AnUnexpectedAnswerIsFollowedByANewRequestAndIsNotShownMeanwhile) {
  SimulatorConfig config;
  config.request = RequestReply::Unexpected;
  config.unexpectedAnswer = "064OK";
  config.unexpectedCount = 2;
  SimLink h(SimLinkKind::Serial, config);
  std::vector<std::string> statusAtPump;
  h.view.onPump = [&] { statusAtPump.push_back(h.view.statusText); };
  EXPECT_EQ(h.Flash(PatternImage(FirmwareTarget::FanfolderCrossfolder)), FlashOutcome::Completed);
  EXPECT_EQ(h.machine.Report().requests, 3u);
  EXPECT_EQ(statusAtPump, (std::vector<std::string>{" flash: unexpected answer 064OK",
                                                    " flash: unexpected answer 064OK"}));
  for (const std::string& s : h.view.shown) EXPECT_EQ(s.find("unexpected"), std::string::npos);
  EXPECT_EQ(Text(h.serial.sent, 0, 9), "064064064");
}

TEST(FlashTransferTest, AReadyAnswerForAnotherTargetIsAskedAgainUntilTwentySeconds) {
  SimulatorConfig config;
  config.request = RequestReply::Unexpected;
  config.unexpectedAnswer = "128OK1";
  SimLink h(SimLinkKind::Serial, config);
  const std::int64_t start = h.clock.Now();
  EXPECT_EQ(h.Flash(FilledImage(FirmwareTarget::FanfolderCrossfolder, 0xFF)),
            FlashOutcome::UnexpectedAnswer);
  EXPECT_GT(h.machine.Report().requests, 100u);  // asked far more often than a silent machine
  EXPECT_EQ(h.view.pumps, static_cast<int>(h.machine.Report().requests));
  EXPECT_EQ(h.clock.Now() - start, 21);
  EXPECT_EQ(h.view.statusText, " flash: unexpected answer 128OK1");
  EXPECT_TRUE(h.machine.Report().transfers.empty());
  ExpectEnded(h);
}

// A line babbling before the request is drained for two whole seconds of the clock, then asked.
TEST(FlashTransferTest, ABabblingLineIsDrainedForTwoSecondsBeforeTheRequest) {
  SimLink h(SimLinkKind::Serial);  // starts at the beginning of a second
  std::int64_t requestAtMs = -1;
  h.serial.onRead = [&] {
    if (!h.serial.sent.empty()) return;  // quiet once asked
    h.serial.Receive("x");
    h.clock.AdvanceMs(1);
  };
  h.afterFeed = [&] {
    if (requestAtMs < 0) requestAtMs = h.ElapsedMs();
  };
  EXPECT_EQ(h.Flash(PatternImage(FirmwareTarget::Module3)), FlashOutcome::Completed);
  // The drain ends at the first reading more than 2 s on: 3 s of whole-second clock.
  EXPECT_EQ(requestAtMs, 3000);
}

TEST(FlashTransferTest, ARefusedBlockFiveEndsWithoutBlockSixOrTheCheckByte) {
  SimulatorConfig config;
  config.refuseBlock = 5;
  config.refuseByte = 0x30;
  SimLink h(SimLinkKind::Serial, config);
  const FirmwareImage image = PatternImage(FirmwareTarget::Module3);
  EXPECT_EQ(h.Flash(image), FlashOutcome::ErrorWhileFlashing);
  EXPECT_EQ(h.serial.sent.size(), 3u + 6u * 257u);  // request and blocks 0..5, nothing more
  ASSERT_EQ(h.machine.Report().transfers.size(), 1u);
  EXPECT_EQ(h.machine.Report().transfers[0].blocksReceived, 5u);
  EXPECT_FALSE(h.machine.Report().transfers[0].checkByteReceived);
  EXPECT_EQ(h.view.statusText, " flash: error while flashing");
  ExpectEnded(h);
}

struct ImageCase {
  FirmwareTarget target;
  std::string request;
  std::uint32_t blocks;
  std::uint8_t checkByte;
};

TEST(FlashTransferTest, SendsTheImagePrefixInFramesAndTheCheckByteOverIt) {
  const ImageCase cases[] = {{FirmwareTarget::Module3, "MO3", 128, 0x84},
                             {FirmwareTarget::FanfolderCrossfolder, "064", 256, 0xF3},
                             {FirmwareTarget::WebC, "128", 512, 0x74}};
  for (const ImageCase& c : cases) {
    SCOPED_TRACE(c.request);
    SimLink h(SimLinkKind::Serial);
    FirmwareImage image = FilledImage(c.target, 0xFF);
    if (c.blocks * 256u < image.data.size()) image.data.at(c.blocks * 256) = 0x00;  // never sent
    std::int32_t positionAtCheckByte = -1;
    std::uint16_t rangeAtCheckByte = 0;
    h.afterFeed = [&] {
      if (!h.machine.Report().transfers.empty() && positionAtCheckByte < 0) {
        positionAtCheckByte = h.view.progressPos;
        rangeAtCheckByte = h.view.progressMax;
      }
    };
    ASSERT_EQ(h.Flash(image), FlashOutcome::Completed);
    const std::vector<std::uint8_t>& sent = h.serial.sent;
    EXPECT_EQ(Text(sent, 0, 3), c.request);
    ASSERT_EQ(sent.size(), 3u + c.blocks * 257u + 1u);
    for (std::uint32_t k = 0; k < c.blocks; ++k) EXPECT_EQ(sent[3 + k * 257 + 256], 0x00) << k;
    EXPECT_EQ(sent.back(), c.checkByte);
    const sim::TransferRecord& record = h.machine.Report().transfers.at(0);
    EXPECT_EQ(record.blocksReceived, c.blocks);
    EXPECT_TRUE(record.checkByteMatched);
    EXPECT_EQ(h.machine.Report().image.size(), c.blocks * 256u);
    EXPECT_TRUE(std::equal(h.machine.Report().image.begin(), h.machine.Report().image.end(),
                           image.data.begin()));
    EXPECT_EQ(positionAtCheckByte, static_cast<std::int32_t>(c.blocks) - 1);
    EXPECT_EQ(rangeAtCheckByte, c.blocks);
    EXPECT_EQ(h.view.progressMax, 40);  // the verdict wait showed its seconds
    ExpectEnded(h);
  }
}

TEST(FlashTransferTest, TheMachinesOwnCheckOfAVariedImageAgrees) {
  for (SimLinkKind kind : {SimLinkKind::Serial, SimLinkKind::Usb}) {
    SimLink h(kind);
    const FirmwareImage image = PatternImage(FirmwareTarget::WebC);
    ASSERT_EQ(h.Flash(image), FlashOutcome::Completed);
    const sim::TransferRecord& record = h.machine.Report().transfers.at(0);
    EXPECT_TRUE(record.checkByteMatched);
    EXPECT_EQ(record.verdictSent, "SUCCES");
    EXPECT_TRUE(std::equal(h.machine.Report().image.begin(), h.machine.Report().image.end(),
                           image.data.begin()));
  }
}

TEST(FlashTransferTest, ASecondTransferOfTheSameImageSendsTheSameBytes) {
  SimLink h(SimLinkKind::Serial);
  const FirmwareImage image = PatternImage(FirmwareTarget::Module5);
  const FirmwareImage before = image;
  ASSERT_EQ(h.Flash(image), FlashOutcome::Completed);
  const std::vector<std::uint8_t> first = h.serial.sent;
  h.serial.sent.clear();
  h.view.enableCalls.clear();
  ASSERT_EQ(h.Flash(image), FlashOutcome::Completed);
  EXPECT_EQ(h.serial.sent, first);
  EXPECT_EQ(image.data, before.data);
  EXPECT_EQ(h.machine.Report().transfers.size(), 2u);
  ExpectEnded(h);
}

TEST(FlashTransferTest, ALinkClosedWhileMessagesRunEndsWithNoAnswer) {
  SimulatorConfig config;
  config.request = RequestReply::Unexpected;
  config.unexpectedAnswer = "BUSY";
  SimLink h(SimLinkKind::Serial, config);
  h.view.onPump = [&] {
    h.connectionId = kNoConnection;  // a device change handled inside the pump
    h.clock.stepMsPerRead = 1;
  };
  EXPECT_EQ(h.Flash(FilledImage(FirmwareTarget::Module1, 0xFF)), FlashOutcome::NoAnswer);
  EXPECT_EQ(h.machine.Report().requests, 1u);
  EXPECT_EQ(h.serial.sent.size(), 3u);
  EXPECT_EQ(h.view.statusText, " flash: no answer");
  ExpectEnded(h);
}

TEST(FlashTransferTest, ALinkClosedInTheBlockPhaseEndsWithNoAnswerWhileFlashing) {
  for (SimLinkKind kind : {SimLinkKind::Serial, SimLinkKind::Usb}) {
    SimLink h(kind);
    h.afterFeed = [&] {
      if (h.machine.Report().current && h.machine.Report().current->blocksReceived == 3) {
        h.connectionId = kNoConnection;
        h.clock.stepMsPerRead = 1;
      }
    };
    EXPECT_EQ(h.Flash(PatternImage(FirmwareTarget::Module2)), FlashOutcome::NoAnswerWhileFlashing);
    EXPECT_EQ(h.Sent().size(), 3u + 3u * 257u);
    EXPECT_EQ(h.view.statusText, " flash: no answer while flashing");
    ExpectEnded(h);
  }
}

TEST(FlashTransferTest, AStrayByteAfterTheLastAcknowledgementStaysOutOfTheVerdict) {
  // The cable has no purge: only the drain keeps the byte out of the answer to the check byte.
  SimLink h(SimLinkKind::Usb);
  bool strayed = false;
  h.afterFeed = [&] {
    const auto& current = h.machine.Report().current;
    if (!strayed && current && current->blocksReceived == current->blocksExpected) {
      h.d2xx.devices.front().incoming.push_back('X');
      strayed = true;
    }
  };
  EXPECT_EQ(h.Flash(PatternImage(FirmwareTarget::Module3)), FlashOutcome::Completed);
  EXPECT_TRUE(strayed);
  EXPECT_EQ(h.view.statusText, " flash: completed");
}

TEST(FlashTransferTest, OverTheCableWithoutASerialPort) {
  SimLink h(SimLinkKind::Usb);
  ASSERT_TRUE(h.usbOpened);
  const FirmwareImage image = PatternImage(FirmwareTarget::CanModule);
  EXPECT_EQ(h.Flash(image), FlashOutcome::Completed);
  EXPECT_TRUE(h.serial.sent.empty());
  EXPECT_EQ(Text(h.Sent(), 0, 3), "CAN");
  EXPECT_EQ(h.Sent().size(), 3u + 128u * 257u + 1u);
  EXPECT_TRUE(h.machine.Report().transfers.at(0).checkByteMatched);
}

TEST(FlashTransferTest, AFailedSerialWriteInTheQueryPhaseDoesNotEndIt) {
  SimLink h(SimLinkKind::Serial);
  h.serial.failWrite = true;
  std::string statusAfterFailure;
  h.serial.onRead = [&] {
    if (h.serial.failWrite && h.serial.writeSizes.size() == 3) {
      statusAfterFailure = h.view.statusText;
      h.serial.failWrite = false;
    }
  };
  EXPECT_EQ(h.Flash(PatternImage(FirmwareTarget::Module4)), FlashOutcome::Completed);
  EXPECT_EQ(statusAfterFailure, " Write COM: write error");
  EXPECT_EQ(h.machine.Report().requests, 1u);
  EXPECT_EQ(h.view.statusText, " flash: completed");
}

TEST(FlashTransferTest, ALastRequestNotWrittenEndsWithTheWriteError) {
  SimLink h(SimLinkKind::Serial);
  h.serial.failWrite = true;
  EXPECT_EQ(h.Flash(PatternImage(FirmwareTarget::Module4)), FlashOutcome::WriteError);
  EXPECT_GT(h.serial.writeSizes.size(), 6u);  // tried again and again for 20 seconds
  EXPECT_EQ(h.machine.Report().requests, 0u);
  EXPECT_EQ(h.view.statusText, " Write COM: write error");
  EXPECT_EQ(h.view.shown.back(), " Write COM: write error");
  ExpectEnded(h);
}

struct WriteFailureCase {
  std::string name;
  SimulatorPhase failIn;  // the first write in this phase fails
  std::string textBefore;
};

TEST(FlashTransferTest, ABlockOrCheckByteNotWrittenEndsAtOnceAndOnlyEnablesTheControls) {
  const WriteFailureCase cases[] = {
      {"block", SimulatorPhase::ReceiveBlocks, " flash: start..."},
      {"check byte", SimulatorPhase::AwaitCheckByte, " flash: wait for success message..."}};
  for (const WriteFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimLink h(SimLinkKind::Serial);
    h.afterFeed = [&] {
      if (h.machine.Phase() == c.failIn) h.serial.failWrite = true;
    };
    EXPECT_EQ(h.Flash(PatternImage(FirmwareTarget::Module6)), FlashOutcome::WriteError);
    EXPECT_EQ(h.view.statusText, " Write COM: write error");
    // The link layer showed the failure; nothing is shown after it.
    ASSERT_GE(h.view.shown.size(), 2u);
    EXPECT_EQ(h.view.shown.back(), " Write COM: write error");
    EXPECT_EQ(h.view.shown[h.view.shown.size() - 2], c.textBefore);
    EXPECT_EQ(h.view.positions.back(), 0);
    EXPECT_TRUE(h.machine.Report().transfers.empty());
    ExpectEnded(h);
  }
}

TEST(FlashTransferTest, AnErrorCharacterIsShownAsReceived) {
  SimulatorConfig config;
  config.request = RequestReply::EraseError;
  config.eraseDetail = std::string("\xFF") + "\x07";
  SimLink h(SimLinkKind::Serial, config);
  EXPECT_EQ(h.Flash(PatternImage(FirmwareTarget::WebC)), FlashOutcome::EraseError);
  EXPECT_EQ(h.view.statusText, std::string(" flash: erase error FF\x07"));
}

// A stop request ends the transfer at its next wait, between two blocks at the latest, and the
// position tells what the controller was left with.
TEST(FlashTransferTest, AStopRequestEndsAtTheNextWaitAndTellsHowFarItGot) {
  struct StopCase {
    const char* name;
    std::function<void(SimulatorConfig&)> configure;
    int stopAfterWrites;  // cancel once this many serial writes went out; -1: never
    FlashOutcome outcome;
    FlashStage stage;
    std::uint32_t blocks;
  };
  const std::vector<StopCase> cases = {
      {"silent machine", [](SimulatorConfig& c) { c.request = RequestReply::Silent; }, 1,
       FlashOutcome::Cancelled, FlashStage::Request, 0},
      // The request takes one write, a block three (128 + 128 + 1 bytes).
      // Stopped once block 4 went out: its acknowledgement is no longer waited for.
      {"at block 4", [](SimulatorConfig&) {}, 1 + 5 * 3, FlashOutcome::Cancelled,
       FlashStage::Blocks, 4},
      {"waiting for the verdict", [](SimulatorConfig& c) { c.verdict = VerdictReply::Silent; },
       1 + 128 * 3 + 1, FlashOutcome::Cancelled, FlashStage::Verdict, 128},
      {"not stopped", [](SimulatorConfig&) {}, -1, FlashOutcome::Completed, FlashStage::Done, 128},
      {"refused block", [](SimulatorConfig& c) { c.refuseBlock = 9; }, -1,
       FlashOutcome::ErrorWhileFlashing, FlashStage::Blocks, 9},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatorConfig config;
    c.configure(config);
    SimLink h(SimLinkKind::Serial, config);
    int writes = 0;
    std::int64_t stoppedAtMs = 0;
    h.afterFeed = [&] {
      if (++writes != c.stopAfterWrites) return;
      h.cancel.Cancel();
      stoppedAtMs = h.ElapsedMs();
    };
    EXPECT_EQ(h.Flash(PatternImage(FirmwareTarget::Module3)), c.outcome);
    EXPECT_EQ(h.position.stage, c.stage);
    EXPECT_EQ(h.position.blocksAcknowledged, c.blocks);
    EXPECT_EQ(h.position.blockCount, 128u);
    if (c.stopAfterWrites > 0) {
      EXPECT_EQ(writes, c.stopAfterWrites);          // nothing sent after the request
      EXPECT_LT(h.ElapsedMs() - stoppedAtMs, 1000);  // well within the shortest read limit
    }
    ExpectEnded(h);
  }
}

// A stop that comes between two blocks (after an acknowledgement, before the next frame) sends no
// further frame.
TEST(FlashTransferTest, AStopBetweenTwoBlocksSendsNoFurtherFrame) {
  for (const SimLinkKind kind : {SimLinkKind::Serial, SimLinkKind::Usb}) {
    SimLink h(kind);
    h.view.onRefresh = [&] {
      if (h.position.blocksAcknowledged == 4) h.cancel.Cancel();
    };
    EXPECT_EQ(h.Flash(PatternImage(FirmwareTarget::Module3)), FlashOutcome::Cancelled);
    EXPECT_EQ(h.position.blocksAcknowledged, 4u);
    EXPECT_EQ(h.Sent().size(), 3 + 4 * kBlockFrameSize);
  }
}

}  // namespace
}  // namespace loadwing
