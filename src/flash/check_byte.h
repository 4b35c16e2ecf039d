#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace loadwing {

// The MSB-first CRC-8 table of polynomial 0x9B (x^8 + x^7 + x^4 + x^3 + x + 1): entry i is the
// remainder of i * x^8.
constexpr std::array<std::uint8_t, 256> MakeCrc8Table() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80u) ? ((c << 1) ^ 0x9Bu) : (c << 1);
    table[i] = static_cast<std::uint8_t>(c & 0xFFu);
  }
  return table;
}

inline constexpr std::array<std::uint8_t, 256> kCrc8Table = MakeCrc8Table();

// The check byte sent after the last block. The machine combines each byte after the table
// lookup (c = table[c] ^ b), not before it as the common table-driven CRC-8 does, so this is the
// remainder of the whole image read as one bit string; it must match the machine bit for bit.
class ImageCheckByte {
 public:
  void Update(std::uint8_t b) { value_ = static_cast<std::uint8_t>(kCrc8Table[value_] ^ b); }
  void Update(const std::uint8_t* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) Update(data[i]);
  }
  std::uint8_t value() const { return value_; }

 private:
  std::uint8_t value_ = 0;
};

}  // namespace loadwing
