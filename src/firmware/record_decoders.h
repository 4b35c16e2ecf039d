#pragma once
#include <cstddef>
#include <cstdint>
#include <istream>
#include <vector>

#include "firmware/firmware_image.h"

namespace loadwing {

// How a decoder ended. Every input ends in exactly one of these.
enum class DecodeResult : std::uint8_t {
  Complete,          // the terminating record was reached; the image is finished
  TextEnded,         // the text or stream ended before a terminating record
  ChecksumMismatch,  // a record's checksum did not add up; decoding stopped at that record
  // An S2 record whose byte count is below 4, or whose data would land below the first S2
  // record's address or 131,072 bytes or more above it; an Intel HEX linear base record (type
  // 04) with a non-zero base, whose following records lie above 64 KiB, or a data record that a
  // segment base (type 02) places at or above 64 KiB. Such a file
  // is refused whole: flashing a silently cut or folded image is worse than flashing nothing.
  // Nothing of the record is written.
  RecordOutOfRange,
};

// Two characters, high nibble first, give one byte. No character is refused: a wrong digit only
// shows later as a checksum mismatch.
std::uint8_t HexPairToByte(char high, char low);

// What an Intel HEX decode came across, for front ends that want to tell about records that
// are not plain data.
struct IntelHexStatistics {
  std::uint32_t dataRecords = 0;     // type 00
  std::uint32_t addressRecords = 0;  // types 02 to 05 (base zero, or start address): skipped
  std::uint32_t segmentRecords = 0;  // type 02 with a non-zero base: the records after it move
  std::uint32_t otherRecords = 0;    // types 06 to FF, taken as data at their address field
  std::int32_t highestAddress = -1;  // highest image offset written; -1 when none was
};

// Which image offsets a decode wrote data to, for front ends that tell how much of a file lies
// beyond the part a transfer sends.
struct ImageCoverage {
  std::vector<bool> written = std::vector<bool>(kFirmwareImageSize, false);
  void Mark(std::size_t offset, std::size_t n);
  // Offsets at or above offset that were written.
  [[nodiscard]] std::uint32_t CountFrom(std::size_t offset) const;
};

// Decodes Intel HEX with 16-bit load addresses read from stream (opened without line-end
// translation), one character or one pair at a time. Resets image offsets 0 to 65,535 to 0xFF
// first; the upper 65,536 bytes keep what they held unless a record reaches past 0xFFFF.
// A count of 00 or a record of type 01 ends the file. Each data byte is in the image before its
// record's checksum is checked. Records of types 02 to 05 write nothing (their checksum is still
// checked). A type 02 record sets a segment base: the data records after it are placed at
// base * 16 plus their address, and one reaching 64 KiB or beyond ends the decode with
// RecordOutOfRange, none of its bytes written; a type 04 record with a non-zero base ends it so.
// statistics, when given, is filled in as records are taken.
// A read error of the stream ends the text there (TextEnded, the stream's badbit set).
[[nodiscard]] DecodeResult DecodeIntelHex(std::istream& stream, FirmwareImage& image,
                                          IntelHexStatistics* statistics = nullptr,
                                          ImageCoverage* coverage = nullptr);

// Decodes the S2 records of an S-record text into image, placed relative to the first S2
// record's address, until an S8 record. The text ends at its first zero byte or after capacity
// bytes, whichever comes first; nothing at or past text + capacity is read. Resets all 131,072
// image bytes to 0xFF first. coverage, when given, notes the offsets written.
[[nodiscard]] DecodeResult DecodeSRecords(const char* text, std::size_t capacity,
                                          FirmwareImage& image, ImageCoverage* coverage = nullptr);

#ifdef LOADWING_FUZZ_CHECKSUM_SWITCH
// Only in the fuzz harnesses' own build of the decoders: lets a harness skip the checksum test
// so that mutated inputs reach past the first record. The product never has this switch.
extern bool fuzzIgnoreChecksums;
#endif

}  // namespace loadwing
