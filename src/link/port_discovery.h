#pragma once
#include <string>
#include <vector>

#include "link/serial_port_map.h"
#include "link/usb_link.h"

namespace loadwing {

// The serial-port entries of the connection list, in the order they are appended: one per
// port 0..99 the map names ("COM%i  (%s)" or "COM%i"), ascending, or COM1..COM9 when the map
// yields none.
[[nodiscard]] std::vector<std::string> DiscoverSerialPorts(SerialPortMap& map);

// True when the cable is attached: a device described exactly as the cable's description.
[[nodiscard]] bool ProbeUsbCable(UsbLink& cable);

}  // namespace loadwing
