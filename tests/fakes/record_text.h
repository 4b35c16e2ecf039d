#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Builders of firmware record text for the decoder and loader tests.
namespace loadwing::testing {

using Bytes = std::vector<std::uint8_t>;

inline std::string Hex2(unsigned value) {
  static const char digits[] = "0123456789ABCDEF";
  return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

// One Intel HEX record with a correct checksum unless skew moves it.
inline std::string IntelRecord(unsigned type, unsigned address, const Bytes& data, int skew = 0) {
  unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
  std::string text = ":" + Hex2(static_cast<unsigned>(data.size())) + Hex2(address >> 8) +
                     Hex2(address & 0xFF) + Hex2(type);
  for (std::uint8_t b : data) {
    text += Hex2(b);
    sum += b;
  }
  return text + Hex2((0x100 - (sum & 0xFF) + static_cast<unsigned>(skew)) & 0xFF);
}

// One S2 record; count is the byte count field (derived from the data unless given).
inline std::string S2Record(unsigned address, const Bytes& data, int skew = 0, int count = -1) {
  const unsigned n = count >= 0 ? static_cast<unsigned>(count) : data.size() + 4;
  unsigned sum = n + (address >> 16) + ((address >> 8) & 0xFF) + (address & 0xFF);
  std::string text = "S2" + Hex2(n) + Hex2(address >> 16) + Hex2(address >> 8) + Hex2(address);
  for (std::uint8_t b : data) {
    text += Hex2(b);
    sum += b;
  }
  return text + Hex2((0xFF - (sum & 0xFF) + static_cast<unsigned>(skew)) & 0xFF);
}

inline Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
inline Bytes Counting(std::size_t n, std::uint8_t first) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

inline const std::string kIntelEnd = ":00000001FF";
inline const std::string kS8 = "S804010000FA";
inline const std::string kWebC = "S2080100005765624395";  // "WebC" at 0x10000, checksum 0x95

}  // namespace loadwing::testing
