#pragma once
#include <cstdint>
#include <string>

namespace loadwing {

// Names the open link: 0 none, 0x100 + n serial port COMn (n 0..99), 0x200 the USB cable.
using ConnectionId = std::int32_t;

inline constexpr ConnectionId kNoConnection = 0;
inline constexpr ConnectionId kUsbConnection = 0x200;
constexpr ConnectionId SerialConnection(int portNumber) {
  return 0x100 + portNumber;
}

enum class LinkKind { None, Serial, Usb };

constexpr LinkKind KindOf(ConnectionId id) {
  switch (id >> 8) {
    case 1:
      return LinkKind::Serial;
    case 2:
      return LinkKind::Usb;
    default:
      return LinkKind::None;
  }
}

inline constexpr const char* kUsbCableEntry = "ORV USB cable";

// The port number of a connection-list entry such as "COM12  (Serial0)": the fourth character
// minus '0', and when the fifth is a digit, times ten plus that digit. Only five characters
// count. The caller makes sure the text has the "COM" form.
[[nodiscard]] int PortNumberFromEntry(const std::string& text);

// Win32 device path of port n: "\\.\COMn".
[[nodiscard]] std::string SerialDevicePath(int portNumber);

}  // namespace loadwing
