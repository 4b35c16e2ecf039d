// DecodeSRecords on arbitrary bytes, with and without the checksum test. The text sits in a heap
// buffer of exactly its size, so any read past it is caught by the address sanitizer.
#include <cstring>
#include <memory>

#include "fuzz_image.h"

using namespace loadwing;
using fuzz::GuardedImage;
using fuzz::Require;

namespace {

// The two images start from different contents: the whole image is reset, so what was there
// before must not show in the comparisons below.
DecodeResult DecodeChecked(const char* text, std::size_t capacity, GuardedImage& guarded,
                           bool checkSums) {
  fuzzIgnoreChecksums = !checkSums;
  guarded.Reset();
  const DecodeResult result = DecodeSRecords(text, capacity, guarded.image);
  Require(fuzz::IsDecodeResult(result));
  Require(checkSums || result != DecodeResult::ChecksumMismatch);
  Require(guarded.GuardsIntact());
  Require(guarded.image.target == FirmwareTarget::None);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto* first = new GuardedImage{.fill = 0x5A};
  static auto* second = new GuardedImage{.fill = 0x00};
  const std::unique_ptr<char[]> exact(new char[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(exact.get(), data, size);
  // The same text with a zero after it: the buffer's end must read like that zero.
  const std::unique_ptr<char[]> terminated(new char[size + 1]);
  if (size > 0) std::memcpy(terminated.get(), data, size);
  terminated[size] = '\0';

  for (bool checkSums : {true, false}) {
    const DecodeResult atEnd = DecodeChecked(exact.get(), size, *first, checkSums);
    const DecodeResult atZero = DecodeChecked(terminated.get(), size + 1, *second, checkSums);
    Require(atEnd == atZero);
    Require(first->image.data == second->image.data);
  }
  const DecodeResult withSums = DecodeChecked(exact.get(), size, *first, true);
  const DecodeResult withoutSums = DecodeChecked(exact.get(), size, *second, false);
  if (withSums != DecodeResult::ChecksumMismatch) {
    Require(withoutSums == withSums);
    Require(first->image.data == second->image.data);
  }
  return 0;
}
