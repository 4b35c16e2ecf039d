#pragma once
#include <optional>
#include <string>

#include "link/serial_port.h"

namespace loadwing {

// Opens devicePath and configures it for the machine: 38400 8N1, no flow control, DTR and RTS
// off, the link's time limits and 2048-byte queues. On failure the port is closed again and
// the failure text is returned ("COM: invalid handle", "COM: commstate error",
// "COM: set timeout error", "COM: setupcomm error", without leading blank); nullopt on success.
std::optional<std::string> OpenConfiguredSerial(SerialPort& port, const std::string& devicePath);

}  // namespace loadwing
