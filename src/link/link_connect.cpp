#include "link/link_connect.h"

namespace loadwing {

namespace {
// The cable's line settings in D2XX's terms: 38400 baud, no parity, one stop bit, 8 data bits.
constexpr std::uint32_t kCableBaud = 38400;
constexpr std::uint8_t kCableParityNone = 0;
constexpr std::uint8_t kCableOneStopBit = 0;
constexpr std::uint8_t kCableEightBits = 8;
constexpr std::uint32_t kSerialQueueSize = 2048;
}  // namespace

const char* LinkErrorText(LinkError error) {
  switch (error) {
    case LinkError::None:
      return "";
    case LinkError::InvalidHandle:
      return "COM: invalid handle";
    case LinkError::CommState:
      return "COM: commstate error";
    case LinkError::SetTimeout:
      return "COM: set timeout error";
    case LinkError::SetupComm:
      return "COM: setupcomm error";
    case LinkError::UsbConnect:
      return "USB: connect error";
    case LinkError::NoSuchPort:
      return "COM: no such port";
    case LinkError::SimulatorUnavailable:
      return "simulator: not available";
  }
  return "";
}

LinkError ConnectSerialPort(SerialPort& port, const std::string& devicePath) {
  if (!port.Open(devicePath)) return LinkError::InvalidHandle;
  LinkError error = LinkError::None;
  if (!port.SetCommState(SerialLineSettings{})) {
    error = LinkError::CommState;
  } else if (!port.SetCommTimeouts(SerialTimeouts{})) {
    error = LinkError::SetTimeout;
  } else if (!port.SetupComm(kSerialQueueSize, kSerialQueueSize)) {
    error = LinkError::SetupComm;
  }
  if (error != LinkError::None) port.Close();
  return error;
}

LinkError ConnectUsbCable(UsbLink& cable) {
  if (cable.OpenByDescription(kUsbCableDescription, kCableBaud, kCableParityNone, kCableOneStopBit,
                              kCableEightBits)) {
    return LinkError::None;
  }
  cable.Close();
  return LinkError::UsbConnect;
}

}  // namespace loadwing
