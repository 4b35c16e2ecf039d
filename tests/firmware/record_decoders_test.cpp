#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fakes/failing_stream.h"
#include "fakes/record_text.h"
#include "firmware/record_decoders.h"

namespace loadwing {
namespace {

using namespace loadwing::testing;

using Expected = std::vector<std::pair<std::size_t, std::uint8_t>>;  // offset, value

std::unique_ptr<FirmwareImage> ImageFilledWith(std::uint8_t value) {
  auto image = std::make_unique<FirmwareImage>();
  image->data.fill(value);
  return image;
}

// ---- HexPairToByte ----

struct PairCase {
  char high, low;
  std::uint8_t value;
};

TEST(HexPairToByteTest, FollowsTheDigitRuleForEveryCharacter) {
  const PairCase cases[] = {
      {'0', '0', 0x00}, {'9', 'A', 0x9A}, {'F', 'F', 0xFF}, {'f', 'f', 0xFF},
      {'a', 'B', 0xAB}, {'G', '0', 0x00},  // "G" is worth 16: the carry leaves the byte
      {'0', 'G', 0x10}, {'g', '1', 0x01}, {'!', '0', 0x10},  // "!" is worth 0x21 - 0x30
      {'Z', 'Z', 0x53}, {'z', 'z', 0x53}, {'{', '0', 0x40},  // 35 * 16 + 35, low eight bits
  };
  for (const PairCase& c : cases) {
    EXPECT_EQ(HexPairToByte(c.high, c.low), c.value) << c.high << c.low;
  }
}

// ---- Intel HEX ----

struct IntelCase {
  const char* name;
  std::string text;
  DecodeResult result;
  Expected bytes;
};

TEST(DecodeIntelHexTest, RecordsAndEndings) {
  const std::string data = IntelRecord(0x00, 0x0000, {0x01, 0x02, 0x03, 0x04});
  const IntelCase cases[] = {
      {"standard file",
       data + "\r\n" + kIntelEnd + "\r\n",
       DecodeResult::Complete,
       {{0, 0x01}, {3, 0x04}, {4, 0xFF}}},
      {"known checksum",
       ":0400000001020304F2\n:00000001FF\n",
       DecodeResult::Complete,
       {{0, 0x01}, {3, 0x04}}},
      {"LF only",
       data + "\n" + IntelRecord(0, 0x10, {0x42}) + "\n" + kIntelEnd,
       DecodeResult::Complete,
       {{3, 0x04}, {0x10, 0x42}}},
      {"no separators",
       data + IntelRecord(0, 0x10, {0x42}) + kIntelEnd,
       DecodeResult::Complete,
       {{3, 0x04}, {0x10, 0x42}}},
      {"blanks and noise between records",
       "junk " + data + " x\t;\r\n" + kIntelEnd,
       DecodeResult::Complete,
       {{0, 0x01}}},
      {"lower-case digits",
       ":04001000abcdef0184\n:00000001ff\n",
       DecodeResult::Complete,
       {{0x10, 0xAB}, {0x11, 0xCD}, {0x12, 0xEF}, {0x13, 0x01}}},
      {"lower-case digits in the low place",
       ":060010000a1b2c3d4e5faf\n" + kIntelEnd,
       DecodeResult::Complete,
       {{0x10, 0x0A}, {0x11, 0x1B}, {0x12, 0x2C}, {0x13, 0x3D}, {0x14, 0x4E}, {0x15, 0x5F}}},
      {"count 00 ends before address and type",
       data + ":00zz-not-a-record",
       DecodeResult::Complete,
       {{0, 0x01}}},
      {"count 00 of another type ends",
       data + IntelRecord(0x00, 0x20, {}) + ":0100300042",
       DecodeResult::Complete,
       {{0x30, 0xFF}}},
      {"type 01 with data ends unread",
       ":04000001zzzzzzzz" + data,
       DecodeResult::Complete,
       {{0, 0xFF}}},
      {"malformed text after the end is ignored",
       kIntelEnd + ":GARBAGE:",
       DecodeResult::Complete,
       {}},
      {"zero bases (04, 02) write nothing",
       ":020000040000FA\n" + IntelRecord(2, 0x100, {0, 0}) + IntelRecord(0, 0x10, {0x42}) +
           kIntelEnd,
       DecodeResult::Complete,
       {{0, 0xFF}, {1, 0xFF}, {0x100, 0xFF}, {0x10, 0x42}}},
      {"start addresses (05, 03) before the end leave the data",
       data + IntelRecord(5, 0, {0x12, 0x34, 0x56, 0x78}) + IntelRecord(3, 0x200, {0xCC}) +
           kIntelEnd,
       DecodeResult::Complete,
       {{0, 0x01}, {3, 0x04}, {0x200, 0xFF}}},
      {"non-zero linear base refuses, nothing of it written",
       data + ":020000040001F9\n" + IntelRecord(0, 0x10, {0x42}) + kIntelEnd,
       DecodeResult::RecordOutOfRange,
       {{0, 0x01}, {1, 0x02}, {0x10, 0xFF}}},
      {"a segment base at 64 KiB refuses the data after it",
       IntelRecord(2, 0, {0x10, 0x00}) + data + kIntelEnd,
       DecodeResult::RecordOutOfRange,
       {{0, 0xFF}, {1, 0xFF}}},
      {"a segment base below 64 KiB places the data after it, until a zero base",
       IntelRecord(2, 0, {0x08, 0x00}) + data + IntelRecord(2, 0, {0, 0}) +
           IntelRecord(0, 0x10, {0x42}) + kIntelEnd,
       DecodeResult::Complete,
       {{0, 0xFF}, {0x8000, 0x01}, {0x8003, 0x04}, {0x10, 0x42}}},
      {"a segment base with no data after it places nothing",
       IntelRecord(2, 0, {0xF0, 0x00}) + kIntelEnd,
       DecodeResult::Complete,
       {{0, 0xFF}}},
      {"a record that a segment takes across 64 KiB refuses, nothing of it written",
       IntelRecord(2, 0, {0x0F, 0xFF}) + IntelRecord(0, 0x000E, {1, 2, 3}) + kIntelEnd,
       DecodeResult::RecordOutOfRange,
       {{0xFFFE, 0xFF}, {0xFFFF, 0xFF}, {0x10000, 0x5A}}},
      {"address record checksum is still checked",
       IntelRecord(5, 0, {0, 0, 0x12, 0x34}, 1) + kIntelEnd,
       DecodeResult::ChecksumMismatch,
       {{0, 0xFF}}},
      {"a bad checksum outranks a non-zero base",
       IntelRecord(4, 0, {0, 1}, 1) + kIntelEnd,
       DecodeResult::ChecksumMismatch,
       {}},
      {"type 06 still lands as data",
       IntelRecord(6, 0x300, {0xDD}) + kIntelEnd,
       DecodeResult::Complete,
       {{0x300, 0xDD}}},
      {"checksum off by one leaves its data",
       data + IntelRecord(0, 0x40, {0x11, 0x22}, 1),
       DecodeResult::ChecksumMismatch,
       {{0, 0x01}, {0x40, 0x11}, {0x41, 0x22}}},
      {"empty text", "", DecodeResult::TextEnded, {}},
      {"no colon at all", "S2080100005765624395\n", DecodeResult::TextEnded, {}},
      {"no terminating record", data + "\r\n", DecodeResult::TextEnded, {{0, 0x01}}},
      {"ends inside the count", ":0", DecodeResult::TextEnded, {}},
      {"ends inside the address", ":0400", DecodeResult::TextEnded, {}},
      {"ends inside the data",
       ":04000000010203",
       DecodeResult::TextEnded,
       {{1, 0x02}, {2, 0x03}, {3, 0xFF}}},
      {"ends before the checksum", ":0400000001020304", DecodeResult::TextEnded, {{3, 0x04}}},
      {"record at 0xFFF0 reaches past the reset region",
       IntelRecord(0, 0xFFF0, Counting(32, 0)) + kIntelEnd,
       DecodeResult::Complete,
       {{65519, 0xFF}, {65520, 0x00}, {65535, 15}, {65551, 31}, {65552, 0x5A}}},
      {"count 255 at 0xFFFF stays inside the image",
       IntelRecord(0, 0xFFFF, Counting(255, 1)) + kIntelEnd,
       DecodeResult::Complete,
       {{0xFFFF, 1}, {0xFFFF + 254, 255}, {0xFFFF + 255, 0x5A}}},
      {"count 128 decodes by the standard",
       IntelRecord(0, 0x1000, Counting(128, 0)) + kIntelEnd,
       DecodeResult::Complete,
       {{0x1000, 0}, {0x107F, 127}, {0x1080, 0xFF}}},
  };
  for (const IntelCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = ImageFilledWith(0x5A);
    std::istringstream stream(c.text);
    EXPECT_EQ(DecodeIntelHex(stream, *image), c.result);
    for (const auto& [offset, value] : c.bytes) {
      EXPECT_EQ(image->data[offset], value) << "offset " << offset;
    }
  }
}

TEST(DecodeIntelHexTest, ResetsOnlyTheLowerHalf) {
  auto image = ImageFilledWith(0x5A);
  std::istringstream stream(IntelRecord(0, 0x8000, {0x12}) + kIntelEnd);
  ASSERT_EQ(DecodeIntelHex(stream, *image), DecodeResult::Complete);
  for (std::size_t i = 0; i < kFirmwareImageSize; ++i) {
    const std::uint8_t expected = i == 0x8000 ? 0x12 : (i < 0x10000 ? 0xFF : 0x5A);
    ASSERT_EQ(image->data[i], expected) << "offset " << i;
  }
}

TEST(DecodeIntelHexTest, StopsReadingAtTheTerminatingRecord) {
  auto image = ImageFilledWith(0);
  std::istringstream stream(":00rest");
  ASSERT_EQ(DecodeIntelHex(stream, *image), DecodeResult::Complete);
  std::string rest;
  stream >> rest;
  EXPECT_EQ(rest, "rest");
}

TEST(DecodeIntelHexTest, CountsRecordsByKind) {
  auto image = ImageFilledWith(0);
  IntelHexStatistics statistics;
  std::istringstream stream(":020000040000FA\n" + IntelRecord(0, 0x10, {1, 2, 3}) +
                            IntelRecord(2, 0x20, {0}) + IntelRecord(0, 0x200, {4}) +
                            IntelRecord(0x06, 0x30, {5}) + IntelRecord(0, 0x100, {6, 7}) +
                            kIntelEnd);
  ASSERT_EQ(DecodeIntelHex(stream, *image, &statistics), DecodeResult::Complete);
  EXPECT_EQ(statistics.dataRecords, 3u);
  EXPECT_EQ(statistics.addressRecords, 2u);
  EXPECT_EQ(statistics.otherRecords, 1u);
  EXPECT_EQ(statistics.highestAddress, 0x200);

  IntelHexStatistics none;
  std::istringstream empty(kIntelEnd);
  ASSERT_EQ(DecodeIntelHex(empty, *image, &none), DecodeResult::Complete);
  EXPECT_EQ(none.highestAddress, -1);
  EXPECT_EQ(none.dataRecords, 0u);
}

TEST(DecodeIntelHexTest, RecordCutShortCountsTheBytesItWrote) {
  auto image = ImageFilledWith(0);
  IntelHexStatistics statistics;
  // Four data bytes announced at 0x300, the text ends after two of them.
  std::istringstream stream(":04030000AABB");
  ASSERT_EQ(DecodeIntelHex(stream, *image, &statistics), DecodeResult::TextEnded);
  EXPECT_EQ(image->data[0x301], 0xBB);
  EXPECT_EQ(statistics.highestAddress, 0x301);
}

TEST(DecodeIntelHexTest, AReadErrorEndsTheTextWhereItHappened) {
  const std::string text = IntelRecord(0, 0x10, {1, 2, 3}) + "\r\n" +
                           IntelRecord(0, 0xFFFE, {4, 5, 6, 7}) + "\r\n" + kIntelEnd + "\r\n";
  // Whether the buffer throws or ends early, failing after n characters must come to the same
  // as a text of only those n characters: same result, same image, same statistics.
  for (const auto way : {FailingStreamBuffer::Way::Throw, FailingStreamBuffer::Way::EndEarly}) {
    for (std::size_t n = 0; n <= text.size(); ++n) {
      SCOPED_TRACE("fails after " + std::to_string(n) + " characters, " +
                   (way == FailingStreamBuffer::Way::Throw ? "throwing" : "ending early"));
      auto expectedImage = ImageFilledWith(0x33);
      IntelHexStatistics expectedStatistics;
      std::istringstream cut(text.substr(0, n));
      const DecodeResult expected = DecodeIntelHex(cut, *expectedImage, &expectedStatistics);

      auto image = ImageFilledWith(0x33);
      IntelHexStatistics statistics;
      FailingStream failing(text, n, way);
      ASSERT_EQ(DecodeIntelHex(failing, *image, &statistics), expected);
      ASSERT_EQ(image->data, expectedImage->data);
      EXPECT_EQ(statistics.highestAddress, expectedStatistics.highestAddress);
      EXPECT_EQ(statistics.dataRecords, expectedStatistics.dataRecords);
      if (expected == DecodeResult::TextEnded) {
        EXPECT_EQ(failing.bad(), way == FailingStreamBuffer::Way::Throw);
        EXPECT_TRUE(failing.fail());
      }
    }
  }
}

TEST(DecodeIntelHexTest, AStreamThatThrowsOnBadbitStillThrows) {
  auto image = ImageFilledWith(0);
  FailingStream failing(IntelRecord(0, 0x10, {1, 2}), 4, FailingStreamBuffer::Way::Throw);
  failing.exceptions(std::ios::badbit);
  EXPECT_THROW(static_cast<void>(DecodeIntelHex(failing, *image)), std::ios_base::failure);
}

// ---- S-records ----

struct SCase {
  const char* name;
  std::string text;
  DecodeResult result;
  Expected bytes;
};

TEST(DecodeSRecordsTest, RecordsAndEndings) {
  const SCase cases[] = {
      {"WebC record and one 0x20 above it",
       kWebC + "\r\n" + S2Record(0x10020, {0xAB}) + "\r\n" + kS8,
       DecodeResult::Complete,
       {{0, 'W'},
        {1, 'e'},
        {2, 'b'},
        {3, 'C'},
        {4, 0xFF},
        {0x1F, 0xFF},
        {0x20, 0xAB},
        {0x21, 0xFF}}},
      {"LF only",
       kWebC + "\n" + S2Record(0x10020, {0xAB}) + "\n" + kS8 + "\n",
       DecodeResult::Complete,
       {{0, 'W'}, {0x20, 0xAB}}},
      {"no separators",
       kWebC + S2Record(0x10020, {0xAB}) + kS8,
       DecodeResult::Complete,
       {{0, 'W'}, {0x20, 0xAB}}},
      {"lower-case digits",
       "S2080100005765624395\nS205010020ab2e\n" + kS8,
       DecodeResult::Complete,
       {{0x20, 0xAB}}},
      {"placed relative to the first record in file order",
       S2Record(0x2345, {1}) + S2Record(0x2445, {2}) + S2Record(0x2346, {3}) + kS8,
       DecodeResult::Complete,
       {{0, 1}, {1, 3}, {0x100, 2}}},
      {"S1, S3 and S5 records are skipped",
       "S00600004844521B\nS1130000" + std::string(32, '1') +
           "00\nS3090001000011223344AA\n"
           "S5030001FB\n" +
           kS8,
       DecodeResult::Complete,
       {{0, 0xFF}, {0x10, 0xFF}}},
      {"lower-case s is not a record",
       "s208010000576562439\n" + kS8,
       DecodeResult::Complete,
       {{0, 0xFF}}},
      {"S8 inside a header line ends",
       "; built by S8 tools\n" + kWebC + "\n" + kS8,
       DecodeResult::Complete,
       {{0, 0xFF}}},
      {"S8 fields are not read", kWebC + "S8", DecodeResult::Complete, {{0, 'W'}}},
      {"S2 with no data sets the base",
       S2Record(0x100, {}) + S2Record(0x104, {7}) + kS8,
       DecodeResult::Complete,
       {{0, 0xFF}, {4, 7}}},
      {"count 255 decodes by the standard",
       S2Record(0x10000, Counting(251, 0)) + kS8,
       DecodeResult::Complete,
       {{0, 0}, {250, 250}, {251, 0xFF}}},
      {"last byte of the image",
       kWebC + S2Record(0x10000 + 0x1FFFE, {1, 2}) + kS8,
       DecodeResult::Complete,
       {{0x1FFFE, 1}, {0x1FFFF, 2}}},
      {"sum 0xFE is a mismatch and leaves the data",
       S2Record(0x10000, Text("WebC"), -1),
       DecodeResult::ChecksumMismatch,
       {{0, 'W'}, {3, 'C'}}},
      {"empty text", "", DecodeResult::TextEnded, {}},
      {"S9 last and no S8", "S1050000AABB95\nS9030000FC\n", DecodeResult::TextEnded, {}},
      {"S7 last and no S8", kWebC + "\nS70500010000F9\n", DecodeResult::TextEnded, {{0, 'W'}}},
      {"ends after S", kWebC + "S", DecodeResult::TextEnded, {}},
      {"ends after S2", "S2", DecodeResult::TextEnded, {}},
      {"ends inside the count", "S20", DecodeResult::TextEnded, {}},
      {"ends inside the address", "S20801000", DecodeResult::TextEnded, {}},
      {"ends inside the data", "S20801000057656", DecodeResult::TextEnded, {{0, 'W'}, {1, 'e'}}},
      {"ends inside the checksum", "S208010000576562439", DecodeResult::TextEnded, {{3, 'C'}}},
      {"a zero byte ends the text",
       kWebC + std::string(1, '\0') + kS8,
       DecodeResult::TextEnded,
       {{0, 'W'}}},
      {"count below 4", kWebC + "S2030100" + kS8, DecodeResult::RecordOutOfRange, {{0, 'W'}}},
      {"count 0", "S200" + kS8, DecodeResult::RecordOutOfRange, {}},
      {"below the first record",
       kWebC + S2Record(0xFFFF, {9}) + kS8,
       DecodeResult::RecordOutOfRange,
       {{0, 'W'}}},
      {"at 131,072 above the first record",
       kWebC + S2Record(0x30000, {9}) + kS8,
       DecodeResult::RecordOutOfRange,
       {}},
      {"empty record at 131,072 above the first",
       kWebC + S2Record(0x30000, {}) + kS8,
       DecodeResult::RecordOutOfRange,
       {}},
      {"crossing the image's end writes nothing of it",
       kWebC + S2Record(0x2FFFF, {1, 2}) + kS8,
       DecodeResult::RecordOutOfRange,
       {{0x1FFFF, 0xFF}}},
      {"misplaced and corrupt is a mismatch",
       kWebC + S2Record(0x30000, {9}, 1) + kS8,
       DecodeResult::ChecksumMismatch,
       {}},
      {"misplaced and cut is text ended", kWebC + "S2050300000", DecodeResult::TextEnded, {}},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = ImageFilledWith(0x5A);
    // Exactly the text's size, so a read past it shows under the address sanitizer.
    const auto text = std::make_unique<char[]>(c.text.size() + 1);
    std::copy(c.text.begin(), c.text.end(), text.get());
    EXPECT_EQ(DecodeSRecords(text.get(), c.text.size(), *image), c.result);
    for (const auto& [offset, value] : c.bytes) {
      EXPECT_EQ(image->data[offset], value) << "offset " << offset;
    }
  }
}

TEST(DecodeSRecordsTest, ResetsTheWholeImage) {
  auto image = ImageFilledWith(0x5A);
  const std::string text = "S1050000AABB95\n" + kS8;
  ASSERT_EQ(DecodeSRecords(text.data(), text.size(), *image), DecodeResult::Complete);
  for (std::size_t i = 0; i < kFirmwareImageSize; ++i) ASSERT_EQ(image->data[i], 0xFF) << i;
}

TEST(DecodeSRecordsTest, RefusedRecordsWriteNothingOutsideOrInside) {
  // Whatever a misplaced record carries, the image holds only what came before it.
  auto image = ImageFilledWith(0x5A);
  const std::string text = kWebC + S2Record(0x2FF10, Counting(251, 0)) + kS8;
  ASSERT_EQ(DecodeSRecords(text.data(), text.size(), *image), DecodeResult::RecordOutOfRange);
  for (std::size_t i = 4; i < kFirmwareImageSize; ++i) ASSERT_EQ(image->data[i], 0xFF) << i;
}

// The text fills its buffer with no zero after it: the buffer's end ends the text.
TEST(DecodeSRecordsTest, BufferEndEndsTheText) {
  struct EndCase {
    std::string text;
    DecodeResult result;
  };
  const EndCase cases[] = {
      {kWebC + "S8", DecodeResult::Complete},
      {kWebC + "S", DecodeResult::TextEnded},
      {kWebC + "S208010000", DecodeResult::TextEnded},
      {kWebC + kS8.substr(0, 5), DecodeResult::Complete},
      {kWebC.substr(0, kWebC.size() - 1), DecodeResult::TextEnded},
  };
  for (const EndCase& c : cases) {
    SCOPED_TRACE(c.text);
    auto image = ImageFilledWith(0);
    const auto buffer = std::make_unique<char[]>(c.text.size());  // no room for a zero
    std::copy(c.text.begin(), c.text.end(), buffer.get());
    EXPECT_EQ(DecodeSRecords(buffer.get(), c.text.size(), *image), c.result);
  }
}

}  // namespace
}  // namespace loadwing
