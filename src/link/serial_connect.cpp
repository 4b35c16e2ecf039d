#include "link/serial_connect.h"

namespace loadwing {

std::optional<std::string> OpenConfiguredSerial(SerialPort& port, const std::string& devicePath) {
  if (!port.Open(devicePath)) return "COM: invalid handle";
  // A port whose configuration fails is closed again, so that it can be opened at once later.
  if (!port.SetCommState(SerialLineSettings{})) {
    port.Close();
    return "COM: commstate error";
  }
  if (!port.SetCommTimeouts(SerialTimeouts{})) {
    port.Close();
    return "COM: set timeout error";
  }
  constexpr std::uint32_t kQueueSize = 2048;
  if (!port.SetupComm(kQueueSize, kQueueSize)) {
    port.Close();
    return "COM: setupcomm error";
  }
  return std::nullopt;
}

}  // namespace loadwing
