#include "firmware/record_decoders.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace loadwing {

#ifdef LOADWING_FUZZ_CHECKSUM_SWITCH
bool fuzzIgnoreChecksums = false;
#endif

namespace {

constexpr std::size_t kIntelHexResetSize = 65536;
constexpr std::uint32_t kLargestCount = 255;
// The highest Intel HEX offset is 0xFFFF + 254: it must stay inside the image.
static_assert(kFirmwareImageSize >= kIntelHexResetSize + kLargestCount);

bool ChecksumsChecked() {
#ifdef LOADWING_FUZZ_CHECKSUM_SWITCH
  return !fuzzIgnoreChecksums;
#else
  return true;
#endif
}

// The value of every character as a digit: lower case is made upper case, then a character
// below ':' is worth its code minus '0' and any other its code minus '7'. No character is
// refused; a wrong digit shows as a checksum mismatch. A table, since it runs for every digit.
constexpr std::array<std::uint8_t, 256> kDigitValues = [] {
  std::array<std::uint8_t, 256> values{};
  for (unsigned code = 0; code < 256; ++code) {
    const unsigned upper = (code >= 0x61 && code <= 0x7A) ? code - 0x20 : code;
    values[code] = static_cast<std::uint8_t>(upper < 0x3A ? upper - 0x30 : upper - 0x37);
  }
  return values;
}();

inline std::uint8_t PairValue(char high, char low) {
  return static_cast<std::uint8_t>(kDigitValues[static_cast<unsigned char>(high)] * 16 +
                                   kDigitValues[static_cast<unsigned char>(low)]);
}

// Characters straight from the stream's buffer, one at a time: istream::get builds a sentry for
// every character, which cost more than the decoding itself. The stream's state ends as get
// would leave it, also when the buffer throws (a file buffer does on a read error): badbit, and
// the text ends there.
class StreamChars {
 public:
  explicit StreamChars(std::istream& stream)
      : stream_(stream), buffer_(stream.good() ? stream.rdbuf() : nullptr) {}
  bool get(char& c) {
    using Traits = std::istream::traits_type;
    Traits::int_type next = Traits::eof();
    if (buffer_) {
      try {
        next = buffer_->sbumpc();
      } catch (...) {
        buffer_ = nullptr;
        if (stream_.exceptions() & std::ios::badbit) throw;
        stream_.setstate(std::ios::badbit | std::ios::failbit);
        return false;
      }
    }
    if (Traits::eq_int_type(next, Traits::eof())) {
      stream_.setstate(buffer_ ? std::ios::eofbit | std::ios::failbit : std::ios::failbit);
      buffer_ = nullptr;
      return false;
    }
    c = Traits::to_char_type(next);
    return true;
  }

 private:
  std::istream& stream_;
  std::streambuf* buffer_;
};

bool ReadPair(StreamChars& stream, std::uint8_t& byte) {
  char high = 0;
  char low = 0;
  if (!stream.get(high) || !stream.get(low)) return false;
  byte = PairValue(high, low);
  return true;
}

// Reads the S-record text; its end (a zero byte or the buffer's end) is sticky, so every read
// after it fails too and nothing past the buffer is touched.
class TextCursor {
 public:
  // The end is found once, so each character costs one comparison.
  TextCursor(const char* text, std::size_t capacity)
      : text_(text), end_(TextLength(text, capacity)) {}

  bool Next(char& c) {
    if (pos_ >= end_) return false;
    c = text_[pos_++];
    return true;
  }
  bool Pair(std::uint8_t& byte) {
    char high = 0;
    char low = 0;
    if (!Next(high) || !Next(low)) return false;
    byte = PairValue(high, low);
    return true;
  }
  // Characters left before the end.
  std::size_t Remaining() const { return end_ - pos_; }
  // Hands out the next n characters at once; n must not exceed Remaining().
  const char* Take(std::size_t n) {
    const char* taken = text_ + pos_;
    pos_ += n;
    return taken;
  }

 private:
  static std::size_t TextLength(const char* text, std::size_t capacity) {
    const void* zero = std::memchr(text, '\0', capacity);
    return zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : capacity;
  }

  const char* text_;
  std::size_t end_;
  std::size_t pos_ = 0;
};

// Types 02 to 05: extended segment/linear base (02, 04) and start address (03, 05).
bool IsAddressRecord(std::uint8_t type) {
  return type >= 0x02 && type <= 0x05;
}

void NoteIntelHexType(IntelHexStatistics& statistics, std::uint8_t type) {
  if (type == 0x00) {
    ++statistics.dataRecords;
  } else if (type >= 0x02 && type <= 0x05) {
    ++statistics.addressRecords;
  } else {
    ++statistics.otherRecords;
  }
}

}  // namespace

std::uint8_t HexPairToByte(char high, char low) {
  return PairValue(high, low);
}

void ImageCoverage::Mark(std::size_t offset, std::size_t n) {
  std::fill_n(written.begin() + static_cast<std::ptrdiff_t>(offset), n, true);
}

std::uint32_t ImageCoverage::CountFrom(std::size_t offset) const {
  if (offset >= written.size()) return 0;
  return static_cast<std::uint32_t>(
      std::count(written.begin() + static_cast<std::ptrdiff_t>(offset), written.end(), true));
}

DecodeResult DecodeIntelHex(std::istream& input, FirmwareImage& image,
                            IntelHexStatistics* statistics, ImageCoverage* coverage) {
  StreamChars stream(input);
  std::fill_n(image.data.begin(), kIntelHexResetSize, std::uint8_t{0xFF});
  // The extended segment base of the last type 02 record, in bytes (its value times 16).
  std::size_t segmentBase = 0;
  for (;;) {
    char c = 0;
    do {
      if (!stream.get(c)) return DecodeResult::TextEnded;
    } while (c != ':');

    std::uint8_t count = 0;
    if (!ReadPair(stream, count)) return DecodeResult::TextEnded;
    if (count == 0) return DecodeResult::Complete;
    std::uint8_t addressHigh = 0;
    std::uint8_t addressLow = 0;
    std::uint8_t type = 0;
    if (!ReadPair(stream, addressHigh) || !ReadPair(stream, addressLow) ||
        !ReadPair(stream, type)) {
      return DecodeResult::TextEnded;
    }
    if (type == 0x01) return DecodeResult::Complete;
    if (statistics) NoteIntelHexType(*statistics, type);

    const std::size_t address = segmentBase + addressHigh * 256u + addressLow;
    // Under a segment base the controller's 16-bit space ends at 64 KiB: a record reaching it
    // would be cut or folded. Without one, records keep their old reach past 0xFFFF.
    const bool fits = segmentBase == 0 || address + count <= kIntelHexResetSize;
    std::uint8_t sum = static_cast<std::uint8_t>(count + addressHigh + addressLow + type);
    // Address records (02 to 05) carry no image data: a start address would overwrite the first
    // bytes, and a base names where the records after it go.
    const bool addressRecord = IsAddressRecord(type);
    std::uint8_t base[2] = {0, 0};
    std::size_t taken = 0;
    std::size_t written = 0;
    bool ended = false;
    for (std::size_t i = 0; i < count; ++i) {
      std::uint8_t byte = 0;
      if (!ReadPair(stream, byte)) {
        ended = true;
        break;
      }
      sum = static_cast<std::uint8_t>(sum + byte);
      if (addressRecord) {
        if (taken < 2) base[taken] = byte;
        // A base of more than two bytes is no base this decoder knows: never zero.
        if (taken >= 2 && byte != 0) base[0] = base[1] = 0xFF;
        ++taken;
      } else if (fits) {
        image.data[address + written++] = byte;
      }
    }
    // Once per record rather than per byte; a record cut short counts what it did write.
    if (statistics && written > 0) {
      statistics->highestAddress =
          std::max(statistics->highestAddress, static_cast<std::int32_t>(address + written - 1));
    }
    if (coverage && written > 0) coverage->Mark(address, written);
    if (ended) return DecodeResult::TextEnded;
    std::uint8_t checksum = 0;
    if (!ReadPair(stream, checksum)) return DecodeResult::TextEnded;
    sum = static_cast<std::uint8_t>(sum + checksum);
    if (sum != 0 && ChecksumsChecked()) return DecodeResult::ChecksumMismatch;
    if (!fits) return DecodeResult::RecordOutOfRange;
    const bool baseAboveZero = base[0] != 0 || base[1] != 0;
    if (type == 0x02 && baseAboveZero) {
      // A segment: the records after it go base * 16 higher, which may still lie below 64 KiB.
      segmentBase = (base[0] * 256u + base[1]) * 16u;
      if (statistics) {
        --statistics->addressRecords;
        ++statistics->segmentRecords;
      }
    } else {
      if (type == 0x02) segmentBase = 0;
      // A linear base (04) names addresses of 64 KiB and above: placing those records low would
      // corrupt the image, and dropping them would lose firmware. Refuse the file.
      if (type == 0x04 && baseAboveZero) return DecodeResult::RecordOutOfRange;
    }
  }
}

DecodeResult DecodeSRecords(const char* text, std::size_t capacity, FirmwareImage& image,
                            ImageCoverage* coverage) {
  std::fill(image.data.begin(), image.data.end(), std::uint8_t{0xFF});
  TextCursor cursor(text, capacity);
  bool haveBase = false;
  std::uint32_t base = 0;
  for (;;) {
    char c = 0;
    if (!cursor.Next(c)) return DecodeResult::TextEnded;
    if (c != 'S') continue;
    char type = 0;
    if (!cursor.Next(type)) return DecodeResult::TextEnded;
    if (type == '8') return DecodeResult::Complete;
    if (type != '2') continue;

    std::uint8_t count = 0;
    if (!cursor.Pair(count)) return DecodeResult::TextEnded;
    // The count covers three address bytes and the checksum: less cannot be a record.
    if (count < 4) return DecodeResult::RecordOutOfRange;
    std::uint8_t a1 = 0;
    std::uint8_t a2 = 0;
    std::uint8_t a3 = 0;
    if (!cursor.Pair(a1) || !cursor.Pair(a2) || !cursor.Pair(a3)) {
      return DecodeResult::TextEnded;
    }
    const std::uint32_t address = a1 * 65536u + a2 * 256u + a3;
    if (!haveBase) {
      base = address;
      haveBase = true;
    }
    const std::size_t length = count - 4u;
    const std::size_t offset = address - base;  // meaningful only when address >= base
    const bool fits =
        address >= base && offset < kFirmwareImageSize && length <= kFirmwareImageSize - offset;

    // A record that does not fit is still read to its end, so that a truncated or corrupt
    // record is reported as such rather than as misplaced; none of its bytes is written.
    // The data pairs the text holds are taken in one go (the hot loop of a large file, without a
    // test for the end at every character); a text that ends inside them ends the decode after
    // the whole pairs before its end have been taken, as reading pair by pair would.
    const std::size_t pairs = std::min(length, cursor.Remaining() / 2);
    const char* digits = cursor.Take(2 * pairs);
    unsigned sum = count + a1 + a2 + a3;
    if (fits) {
      std::uint8_t* out = image.data.data() + offset;
      for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint8_t byte = PairValue(digits[2 * i], digits[2 * i + 1]);
        out[i] = byte;
        sum += byte;
      }
      if (coverage) coverage->Mark(offset, pairs);
    } else {
      for (std::size_t i = 0; i < pairs; ++i) sum += PairValue(digits[2 * i], digits[2 * i + 1]);
    }
    if (pairs < length) return DecodeResult::TextEnded;
    std::uint8_t checksum = 0;
    if (!cursor.Pair(checksum)) return DecodeResult::TextEnded;
    sum += checksum;
    if ((sum & 0xFF) != 0xFF && ChecksumsChecked()) return DecodeResult::ChecksumMismatch;
    if (!fits) return DecodeResult::RecordOutOfRange;
  }
}

}  // namespace loadwing
