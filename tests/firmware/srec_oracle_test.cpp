// The decoders against an independent implementation of both formats: srec_cat (Debian's
// srecord) writes random images as S2 records and as Intel HEX, and turns its own files back into
// binary images; our decoders must give the same bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/temp_folder.h"
#include "firmware/record_decoders.h"

namespace loadwing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

enum class Format { SRecords, IntelHex };

struct OracleCase {
  Format format;
  std::uint32_t start;  // address of the first byte
  std::uint32_t length;
  unsigned blockSize;  // data bytes per record
  const char* lineEnd;
  int holes;  // ranges left out of the image, never its first byte
  std::uint32_t seed;
  // Intel HEX: 2 writes 16-bit records only; 3 adds a zero segment base (02) and a start address
  // (03), 4 a zero linear base (04) and a start address (05), as linkers write them.
  int hexAddressLength = 2;
};

std::string HexNumber(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SrecOracleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Without the oracle this test proves nothing: fail rather than skip.
    ASSERT_EQ(std::system("srec_cat -VERSion >/dev/null 2>&1"), 0)
        << "srec_cat is missing: install Debian's srecord (tools/install_deps.sh)";
  }
  void Run(const std::string& command) {
    const fs::path errors = dir_ / "errors.txt";
    const int status = std::system((command + " 2>" + errors.string()).c_str());
    const Bytes message = ReadAll(errors);
    ASSERT_EQ(status, 0) << command << "\n" << std::string(message.begin(), message.end());
  }

  testing::TempFolder folder_;
  const fs::path& dir_ = folder_.Path();
};

TEST_F(SrecOracleTest, DecodersMatchSrecCatByteForByte) {
  const OracleCase cases[] = {
      {Format::SRecords, 0x10000, 0x20000, 251, "crlf", 0, 1},  // the whole image, largest records
      {Format::SRecords, 0x10001, 5000, 251, "nl", 4, 2},
      {Format::SRecords, 0x00000, 70000, 32, "crlf", 6, 3},
      {Format::SRecords, 0xFE0003, 3001, 16, "nl", 3, 4},  // near the top of 24 bits
      {Format::SRecords, 0x12345, 777, 1, "nl", 2, 5},
      {Format::SRecords, 0x20000, 0x1FFFF, 128, "crlf", 9, 6},
      {Format::IntelHex, 0x0000, 0x10000, 255, "crlf", 0, 7},  // the whole reset region
      {Format::IntelHex, 0x0001, 4000, 255, "nl", 5, 8},
      {Format::IntelHex, 0x7FF3, 0x800D, 16, "crlf", 7, 9},
      {Format::IntelHex, 0x0101, 1000, 32, "nl", 3, 10, 3},
      {Format::IntelHex, 0x4000, 3333, 128, "crlf", 2, 11, 4},
      {Format::IntelHex, 0x0003, 50, 1, "nl", 1, 12},
  };
  for (const OracleCase& c : cases) {
    SCOPED_TRACE("seed " + std::to_string(c.seed));
    std::mt19937 random(c.seed);
    Bytes data(c.length);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    {
      std::ofstream out(dir_ / "in.bin", std::ios::binary);
      out.write(reinterpret_cast<const char*>(data.data()),
                static_cast<std::streamsize>(data.size()));
    }
    std::string holes;
    for (int i = 0; i < c.holes; ++i) {
      const std::uint32_t from = c.start + 1 + random() % (c.length - 1);
      const std::uint32_t to = from + 1 + random() % 300;
      holes += " -exclude " + HexNumber(from) + " " + HexNumber(to);
    }
    const std::string in = (dir_ / "in.bin").string() + " -binary -offset " + HexNumber(c.start);
    const std::string options =
        " -output-block-size=" + std::to_string(c.blockSize) + " -line-termination=" + c.lineEnd;
    const fs::path text = dir_ / (c.format == Format::SRecords ? "out.mot" : "out.hex");
    const fs::path oracle = dir_ / "image.bin";

    auto image = std::make_unique<FirmwareImage>();
    image->data.fill(0x5A);
    if (c.format == Format::SRecords) {
      Run("srec_cat " + in + holes + " -o " + text.string() +
          " -motorola -address-length=3 -execution-start-address=" + HexNumber(c.start) + options);
      Run("srec_cat " + text.string() + " -motorola -offset -" + HexNumber(c.start) +
          " -fill 0xFF 0 0x20000 -o " + oracle.string() + " -binary");
      const Bytes file = ReadAll(text);
      ASSERT_NE(std::string(file.begin(), file.end()).find("\nS8"), std::string::npos);
      ASSERT_EQ(DecodeSRecords(reinterpret_cast<const char*>(file.data()), file.size(), *image),
                DecodeResult::Complete);
    } else {
      const std::string start =
          c.hexAddressLength == 2 ? "" : " -execution-start-address=" + HexNumber(c.start);
      Run("srec_cat " + in + holes + " -o " + text.string() +
          " -intel -address-length=" + std::to_string(c.hexAddressLength) + start + options);
      Run("srec_cat " + text.string() + " -intel -fill 0xFF 0 0x10000 -o " + oracle.string() +
          " -binary");
      std::ifstream stream(text, std::ios::binary);
      ASSERT_EQ(DecodeIntelHex(stream, *image), DecodeResult::Complete);
    }

    const Bytes expected = ReadAll(oracle);
    ASSERT_EQ(expected.size(), c.format == Format::SRecords ? kFirmwareImageSize : 0x10000u);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(image->data[i], expected[i]) << "offset " << i;
    }
    for (std::size_t i = expected.size(); i < kFirmwareImageSize; ++i) {
      ASSERT_EQ(image->data[i], 0x5A) << "offset " << i << " above the Intel HEX reset region";
    }
  }
}

// A type 02 record moves the records after it by its segment base times 16: placed where srec_cat
// places them while all lies below 64 KiB, refused once a record reaches 64 KiB.
TEST_F(SrecOracleTest, SegmentedIntelHexIsPlacedAsSrecCatPlacesIt) {
  struct SegmentCase {
    const char* segmentRecord;
    std::uint32_t length;  // of data from offset 0x100 under that segment
    DecodeResult result;
  };
  const SegmentCase cases[] = {
      {":020000020800F4", 0x2000, DecodeResult::Complete},          // data at 0x8100..0xA0FF
      {":020000020F00ED", 0x0F00, DecodeResult::Complete},          // up to 0xFFFF exactly
      {":020000020F00ED", 0x0F01, DecodeResult::RecordOutOfRange},  // one byte at 64 KiB
  };
  for (const SegmentCase& c : cases) {
    SCOPED_TRACE(std::string(c.segmentRecord) + " " + std::to_string(c.length));
    std::mt19937 random(c.length);
    Bytes data(c.length);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    {
      std::ofstream out(dir_ / "in.bin", std::ios::binary);
      out.write(reinterpret_cast<const char*>(data.data()),
                static_cast<std::streamsize>(data.size()));
    }
    const fs::path plain = dir_ / "plain.hex";
    Run("srec_cat " + (dir_ / "in.bin").string() + " -binary -offset 0x100 -o " + plain.string() +
        " -intel -address-length=2 -output-block-size=32");
    const Bytes records = ReadAll(plain);
    const std::string text =
        c.segmentRecord + std::string("\r\n") + std::string(records.begin(), records.end());
    const fs::path segmented = dir_ / "segmented.hex";
    std::ofstream(segmented, std::ios::binary) << text;

    auto image = std::make_unique<FirmwareImage>();
    std::istringstream stream(text);
    ASSERT_EQ(DecodeIntelHex(stream, *image), c.result);
    if (c.result != DecodeResult::Complete) continue;
    const fs::path oracle = dir_ / "image.bin";
    Run("srec_cat " + segmented.string() + " -intel -fill 0xFF 0 0x10000 -o " + oracle.string() +
        " -binary");
    const Bytes expected = ReadAll(oracle);
    ASSERT_EQ(expected.size(), 0x10000u);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(image->data[i], expected[i]) << "offset " << i;
    }
  }
}

}  // namespace
}  // namespace loadwing
