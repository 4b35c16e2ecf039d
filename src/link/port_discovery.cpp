#include "link/port_discovery.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace loadwing {

namespace {

constexpr int kPortCount = 100;
constexpr std::size_t kMaxDeviceName = kPortMapBufferSize - 1;
constexpr std::string_view kDevicePrefix = "\\Device\\";

// The string in a buffer the platform may have left without a terminating zero.
std::string_view BoundedString(const char (&buffer)[kPortMapBufferSize]) {
  const void* end = std::memchr(buffer, '\0', kPortMapBufferSize);
  const std::size_t length =
      end ? static_cast<std::size_t>(static_cast<const char*>(end) - buffer) : kPortMapBufferSize;
  return {buffer, length};
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal number as strtol reads it: leading blanks, an optional sign, digits up to the first
// other character, 0 without digits. Saturates instead of overflowing; anything past two digits
// is out of range for a port anyway.
long ParsePortNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long value = 0;
  constexpr long kSaturated = 1'000'000;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < kSaturated) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

std::string_view DeviceNameOf(std::string_view valueName) {
  const std::size_t at = valueName.find(kDevicePrefix);
  std::string_view name =
      at == std::string_view::npos ? valueName : valueName.substr(at + kDevicePrefix.size());
  return name.substr(0, kMaxDeviceName);
}

}  // namespace

std::vector<std::string> DiscoverSerialPorts(SerialPortMap& map) {
  std::vector<std::string> entries;
  if (map.Open()) {
    std::array<bool, kPortCount> present{};
    std::array<std::string, kPortCount> names;
    for (std::uint32_t index = 0;; ++index) {
      char name[kPortMapBufferSize] = {};
      char data[kPortMapBufferSize] = {};
      std::uint32_t type = 0;
      const bool ok = map.EnumValue(index, name, type, data);

      // The value is examined whether or not the read succeeded.
      const std::string_view portName = BoundedString(data);
      if (portName.size() > 3 && portName.substr(0, 3) == "COM") {
        const long n = ParsePortNumber(portName.substr(3));
        if (n >= 0 && n < kPortCount) {
          present[n] = true;
          names[n] = std::string(DeviceNameOf(BoundedString(name)));
        }
      }
      if (!ok || type != kRegSz) break;
    }
    for (int n = 0; n < kPortCount; ++n) {
      if (!present[n]) continue;
      std::string entry = "COM" + std::to_string(n);
      if (!names[n].empty()) entry += "  (" + names[n] + ")";
      entries.push_back(std::move(entry));
    }
    map.Close();
  }
  if (entries.empty()) {
    for (int n = 1; n <= 9; ++n) entries.push_back("COM" + std::to_string(n));
  }
  return entries;
}

bool ProbeUsbCable(UsbLink& cable) {
  return cable.FindByDescription(kUsbCableDescription) >= 0;
}

}  // namespace loadwing
