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

// Whole firmware files, lines ending in CR LF as the maker's tools write them.

// One S-record: count, address bytes, data, and the checksum 0xFF minus the 8-bit sum.
inline std::string SRecordLine(char type, const Bytes& address, const std::string& data) {
  const unsigned count = static_cast<unsigned>(address.size() + data.size() + 1);
  unsigned sum = count;
  std::string text = std::string("S") + type + Hex2(count);
  for (std::uint8_t byte : address) {
    sum += byte;
    text += Hex2(byte);
  }
  for (char c : data) {
    sum += static_cast<std::uint8_t>(c);
    text += Hex2(static_cast<std::uint8_t>(c));
  }
  return text + Hex2(0xFF - (sum & 0xFF)) + "\r\n";
}

// An S-record file: a header, the payload in S2 records from 0x010000 on, and an S8 record.
inline std::string MotFile(const std::string& payload, bool withEnd = true) {
  constexpr std::size_t kPerRecord = 32;
  constexpr std::uint32_t kBase = 0x010000;
  std::string text = SRecordLine('0', {0, 0}, "HDR");
  for (std::size_t at = 0; at < payload.size(); at += kPerRecord) {
    const std::uint32_t address = kBase + static_cast<std::uint32_t>(at);
    text +=
        SRecordLine('2',
                    {static_cast<std::uint8_t>(address >> 16),
                     static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)},
                    payload.substr(at, kPerRecord));
  }
  if (withEnd) text += SRecordLine('8', {0x01, 0x00, 0x00}, "");
  return text;
}

// An Intel HEX file: the payload in data records from address 0, and the end record.
inline std::string HexFile(const std::string& payload, bool withEnd = true) {
  constexpr std::size_t kPerRecord = 16;
  std::string text;
  for (std::size_t at = 0; at < payload.size(); at += kPerRecord) {
    text +=
        IntelRecord(0, static_cast<unsigned>(at), Text(payload.substr(at, kPerRecord))) + "\r\n";
  }
  if (withEnd) text += kIntelEnd + "\r\n";
  return text;
}

// The text with the checksum of the first record that begins with start put off by one.
inline std::string WithBadChecksum(std::string text, const std::string& start) {
  const std::size_t record = text.find(start);
  const std::size_t end = text.find("\r\n", record);
  char& last = text[end - 1];
  last = last == '0' ? '1' : '0';
  return text;
}

}  // namespace loadwing::testing
