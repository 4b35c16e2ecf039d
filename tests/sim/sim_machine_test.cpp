#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "flash/flash_transfer.h"
#include "sim/machine_simulator.h"

namespace loadwing::sim {
namespace {

std::string Str(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// A frame of 256 bytes of value and its sum, optionally spoiled.
std::string Frame(std::uint8_t value, int sumError = 0) {
  std::string frame(256, static_cast<char>(value));
  frame.push_back(static_cast<char>((value * 256 + sumError) & 0xFF));
  return frame;
}

// The host's table and the machine's own agree on every target.
TEST(MachineSimulatorTest, AnswersEveryRequestOfTheTableReadyAndExpectsItsBlocks) {
  const FirmwareTarget targets[] = {FirmwareTarget::WebC,     FirmwareTarget::FanfolderCrossfolder,
                                    FirmwareTarget::Module0,  FirmwareTarget::Module1,
                                    FirmwareTarget::Module2,  FirmwareTarget::Module3,
                                    FirmwareTarget::Module4,  FirmwareTarget::Module5,
                                    FirmwareTarget::Module6,  FirmwareTarget::Module7,
                                    FirmwareTarget::CanModule};
  for (FirmwareTarget target : targets) {
    const FlashTargetInfo* info = FindFlashTargetInfo(target);
    ASSERT_NE(info, nullptr);
    const std::string code(info->requestCode, 3);
    for (bool configured : {false, true}) {
      SimulatorConfig config;
      if (configured) config.target = target;
      MachineSimulator machine(config);
      EXPECT_EQ(Str(machine.Feed(code)), std::string(info->readyAnswer, 6)) << code;
      ASSERT_TRUE(machine.Report().current.has_value());
      EXPECT_EQ(machine.Report().current->blocksExpected, info->imageSize / 256) << code;
    }
    SimulatorConfig erase;
    erase.request = RequestReply::EraseError;
    erase.eraseDetail = "\x01Z";
    MachineSimulator machine(erase);
    EXPECT_EQ(Str(machine.Feed(code)), std::string(info->eraseErrorPrefix, 4) + "\x01Z");
  }
}

TEST(MachineSimulatorTest, KeepsQuietForAnotherController) {
  SimulatorConfig config;
  config.target = FirmwareTarget::Module3;
  MachineSimulator machine(config);
  EXPECT_TRUE(machine.Feed("MO2064CAN").empty());
  EXPECT_EQ(machine.Report().foreignRequests, 3u);
  EXPECT_EQ(Str(machine.Feed("MO3")), "MO3OK1");
  EXPECT_EQ(machine.Report().requests, 1u);
}

TEST(MachineSimulatorTest, FindsARequestAfterGarbageAndAcrossSplitWrites) {
  MachineSimulator machine;
  EXPECT_TRUE(machine.Feed("xxMMO").empty());
  EXPECT_TRUE(machine.Feed("").empty());
  EXPECT_EQ(Str(machine.Feed("7")), "MO7OK1");
}

TEST(MachineSimulatorTest, GivesTheSameAnswersWhateverTheWritesAreCutInto) {
  std::string input = "CAN";
  for (int k = 0; k < 128; ++k) input += Frame(static_cast<std::uint8_t>(k * 7));
  MachineSimulator whole;
  std::string expected = Str(whole.Feed(input));
  const std::uint8_t check =
      whole.Report().current->blocksReceived == 128
          ? MachineSimulator::CheckByteOf(whole.Report().image.data(), whole.Report().image.size())
          : 0;
  expected += Str(whole.Feed(std::string(1, static_cast<char>(check))));
  EXPECT_EQ(expected, "CANOK1" + std::string(128, '1') + "SUCCES");
  input.push_back(static_cast<char>(check));
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{128}, std::size_t{1000}}) {
    MachineSimulator machine;
    std::string answers;
    for (std::size_t i = 0; i < input.size(); i += piece)
      answers += Str(machine.Feed(input.substr(i, piece)));
    EXPECT_EQ(answers, expected) << piece;
    EXPECT_TRUE(machine.Report().transfers.at(0).checkByteMatched);
  }
}

TEST(MachineSimulatorTest, RefusesAFrameWithAWrongSum) {
  SimulatorConfig config;
  config.badSumByte = 'S';
  MachineSimulator machine(config);
  machine.Feed("MO0");
  EXPECT_EQ(Str(machine.Feed(Frame(0x11))), "1");
  EXPECT_EQ(Str(machine.Feed(Frame(0x22, 1))), "S");
  ASSERT_EQ(machine.Report().transfers.size(), 1u);
  EXPECT_EQ(machine.Report().transfers[0].end, TransferEnd::BadSum);
  EXPECT_EQ(machine.Report().transfers[0].blocksReceived, 1u);
  EXPECT_EQ(machine.Phase(), SimulatorPhase::AwaitRequest);
}

TEST(MachineSimulatorTest, AnswersAWrongCheckByteWithCsfail) {
  MachineSimulator machine;
  machine.Feed("MO1");
  for (int k = 0; k < 128; ++k) machine.Feed(Frame(0xFF));
  ASSERT_EQ(machine.Phase(), SimulatorPhase::AwaitCheckByte);
  EXPECT_EQ(Str(machine.Feed("\x85")), "CSFAIL");  // 0x84 would be right
  const TransferRecord& r = machine.Report().transfers.at(0);
  EXPECT_EQ(r.computedCheckByte, 0x84);
  EXPECT_FALSE(r.checkByteMatched);
}

TEST(MachineSimulatorTest, AnswersUnexpectedlyKTimesThenReady) {
  SimulatorConfig config;
  config.request = RequestReply::Unexpected;
  config.unexpectedAnswer = "NOPE";
  config.unexpectedCount = 2;
  MachineSimulator machine(config);
  EXPECT_EQ(Str(machine.Feed("064")), "NOPE");
  EXPECT_EQ(Str(machine.Feed("064")), "NOPE");
  EXPECT_EQ(Str(machine.Feed("064")), "064OK1");
}

TEST(MachineSimulatorTest, ResetDropsAHalfDoneTransfer) {
  MachineSimulator machine;
  machine.Feed("MO4");
  machine.Feed(Frame(1));
  machine.Feed("half a frame");
  machine.Reset();
  EXPECT_EQ(machine.Report().transfers.at(0).end, TransferEnd::Interrupted);
  EXPECT_EQ(Str(machine.Feed("MO4")), "MO4OK1");
}

TEST(MachineSimulatorTest, TakesArbitraryInputWithoutFailing) {
  std::uint32_t x = 99;
  auto next = [&] {
    x = x * 1664525u + 1013904223u;
    return x >> 8;
  };
  for (int round = 0; round < 4; ++round) {
    SimulatorConfig config;
    config.refuseBlock = round == 1 ? std::optional<std::uint32_t>(0) : std::nullopt;
    config.verdict = round == 2 ? VerdictReply::Silent : VerdictReply::Auto;
    MachineSimulator machine(config);
    std::vector<std::uint8_t> data(200000);
    for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(next());
    // Requests sprinkled in, so the block and verdict states are reached too.
    for (std::size_t i = 0; i + 3 < data.size(); i += 700 + next() % 20000) {
      data[i] = 'M';
      data[i + 1] = 'O';
      data[i + 2] = '0';
    }
    std::size_t i = 0;
    std::uint64_t out = 0;
    while (i < data.size()) {
      const std::size_t n = std::min<std::size_t>(data.size() - i, next() % 600);
      out += machine.Feed(data.data() + i, n).size();
      i += n;
    }
    EXPECT_EQ(machine.Report().bytesIn, data.size());
    EXPECT_EQ(machine.Report().bytesOut, out);
    EXPECT_GT(machine.Report().requests, 0u);
    EXPECT_LE(machine.Report().image.size(), 32768u);
  }
  MachineSimulator machine;
  EXPECT_TRUE(machine.Feed(nullptr, 5).empty());
}

TEST(MachineSimulatorTest, CountsTenBitsABytesOnTheLine) {
  EXPECT_DOUBLE_EQ(MachineSimulator::LineSeconds(3840, 38400), 1.0);
  EXPECT_DOUBLE_EQ(MachineSimulator::LineSeconds(257, 0), 0.0);
}

}  // namespace
}  // namespace loadwing::sim
