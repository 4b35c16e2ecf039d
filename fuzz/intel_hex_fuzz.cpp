// DecodeIntelHex on arbitrary bytes, with and without the checksum test.
#include <sstream>
#include <string>

#include "fuzz_image.h"

using namespace loadwing;
using fuzz::GuardedImage;
using fuzz::Require;

namespace {

constexpr std::uint8_t kFill = 0x5A;
constexpr std::size_t kReach = 0x10000 + 255;  // one past the highest offset a record can reach

DecodeResult DecodeChecked(const std::string& text, GuardedImage& guarded, bool checkSums) {
  fuzzIgnoreChecksums = !checkSums;
  guarded.Reset();
  std::istringstream stream(text);
  IntelHexStatistics statistics;
  const DecodeResult result = DecodeIntelHex(stream, guarded.image, &statistics);

  Require(fuzz::IsDecodeResult(result));
  // Only an extended-address record with a non-zero base refuses an Intel HEX file.
  // Only a base (04) or a segment (02) can place data out of range.
  Require(result != DecodeResult::RecordOutOfRange ||
          statistics.addressRecords + statistics.segmentRecords > 0);
  Require(checkSums || result != DecodeResult::ChecksumMismatch);
  Require(guarded.GuardsIntact());
  Require(guarded.image.target == FirmwareTarget::None);
  Require(statistics.highestAddress < static_cast<std::int32_t>(kReach));
  // Above the reset region only what the records wrote may change.
  const std::size_t untouchedFrom =
      std::max<std::size_t>(0x10000, static_cast<std::size_t>(statistics.highestAddress + 1));
  for (std::size_t i = untouchedFrom; i < kFirmwareImageSize; ++i) {
    Require(guarded.image.data[i] == kFill);
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto* checked = new GuardedImage{.fill = kFill};
  static auto* unchecked = new GuardedImage{.fill = kFill};
  const std::string text(reinterpret_cast<const char*>(data), size);
  const DecodeResult withSums = DecodeChecked(text, *checked, true);
  const DecodeResult withoutSums = DecodeChecked(text, *unchecked, false);
  // Checksums only ever stop a decode early; a file that passes them decodes alike without.
  if (withSums != DecodeResult::ChecksumMismatch) {
    Require(withoutSums == withSums);
    Require(checked->image.data == unchecked->image.data);
  }
  return 0;
}
