#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "flash/block_frame.h"
#include "flash/check_byte.h"
#include "sim/machine_simulator.h"

namespace loadwing {
namespace {

// The table is built by the compiler.
static_assert(kCrc8Table[0x01] == 0x9B);

struct TableEntry {
  int index;
  std::uint8_t value;
};

TEST(Crc8TableTest, HoldsTheRemaindersOfPolynomial0x9B) {
  const TableEntry entries[] = {
      {0x00, 0x00}, {0x01, 0x9B}, {0x02, 0xAD}, {0x80, 0x0B}, {0xFF, 0x7B}};
  for (const TableEntry& e : entries) {
    EXPECT_EQ(kCrc8Table[e.index], e.value) << "entry " << e.index;
  }
}

TEST(Crc8TableTest, IsLinear) {
  // A remainder table of a polynomial division maps XOR to XOR.
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; b += 17) {
      ASSERT_EQ(kCrc8Table[a ^ b], kCrc8Table[a] ^ kCrc8Table[b]) << a << " " << b;
    }
  }
}

struct CheckValue {
  std::string name;
  std::vector<std::uint8_t> bytes;
  std::uint8_t expected;
};

std::vector<std::uint8_t> BytesOf(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(ImageCheckByteTest, GivesTheKnownCheckValues) {
  const std::vector<CheckValue> cases = {
      {"abc", BytesOf("abc"), 0xC3},
      {"123456789", BytesOf("123456789"), 0x1C},
      {"32768 x FF", std::vector<std::uint8_t>(32768, 0xFF), 0x84},
      {"65536 x FF", std::vector<std::uint8_t>(65536, 0xFF), 0xF3},
      {"131072 x FF", std::vector<std::uint8_t>(131072, 0xFF), 0x74},
  };
  for (const CheckValue& c : cases) {
    ImageCheckByte check;
    check.Update(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(check.value(), c.expected) << c.name;
    // The machine simulator divides bit by bit: a second, independent computation.
    EXPECT_EQ(sim::MachineSimulator::CheckByteOf(c.bytes.data(), c.bytes.size()), c.expected)
        << c.name;
  }
}

TEST(ImageCheckByteTest, CombinesTheByteAfterTheLookupNotBefore) {
  // One byte: table[0] ^ b = b. The common CRC-8 (table[0 ^ b]) would give table[b].
  ImageCheckByte check;
  check.Update(0x01);
  EXPECT_EQ(check.value(), 0x01);
  check.Update(0x00);
  EXPECT_EQ(check.value(), 0x9B);
}

TEST(ImageCheckByteTest, AgreesWithBitwiseDivisionOnVariedData) {
  std::vector<std::uint8_t> data(5000);
  std::uint32_t x = 7;
  for (std::uint8_t& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  for (std::size_t n : {std::size_t{1}, std::size_t{2}, std::size_t{255}, std::size_t{5000}}) {
    ImageCheckByte check;
    check.Update(data.data(), n);
    EXPECT_EQ(check.value(), sim::MachineSimulator::CheckByteOf(data.data(), n)) << n;
  }
}

struct FrameCase {
  std::string name;
  std::vector<std::uint8_t> data;
  std::uint8_t sum;
};

TEST(BlockFrameTest, CarriesTheBytesAndTheirSumAndFoldsThemIntoTheCheckByte) {
  std::vector<std::uint8_t> ramp(256);
  for (int i = 0; i < 256; ++i) ramp[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> ends(256, 0x00);
  ends[0] = 0x7F;
  ends[255] = 0x02;
  const std::vector<FrameCase> cases = {
      {"all FF", std::vector<std::uint8_t>(256, 0xFF), 0x00},
      {"all 00", std::vector<std::uint8_t>(256, 0x00), 0x00},
      {"ramp", ramp, 0x80},
      {"all 01", std::vector<std::uint8_t>(256, 0x01), 0x00},
      {"first and last", ends, 0x81},
  };
  for (const FrameCase& c : cases) {
    BlockFrame frame;
    ImageCheckByte viaFrame;
    ImageCheckByte direct;
    direct.Update(0x5A);
    viaFrame.Update(0x5A);  // the check byte runs on across blocks
    frame.Build(c.data.data(), viaFrame);
    direct.Update(c.data.data(), c.data.size());
    EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), frame.bytes.begin())) << c.name;
    EXPECT_EQ(frame.bytes[256], c.sum) << c.name;
    EXPECT_EQ(viaFrame.value(), direct.value()) << c.name;
  }
}

}  // namespace
}  // namespace loadwing
