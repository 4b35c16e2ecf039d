#pragma once
#include <string>

#include "link/serial_port.h"
#include "link/usb_link.h"

namespace loadwing {

// Why a link could not be opened or used. Every layer above hands this on unchanged; only the
// status line turns it into words (LinkErrorText), and the command line into an exit code.
enum class LinkError {
  None,
  InvalidHandle,  // the serial port did not open
  CommState,      // its line settings were refused
  SetTimeout,     // its time limits were refused
  SetupComm,      // its queue sizes were refused
  UsbConnect,     // the cable was not found or did not take its settings
  Write,          // the serial port refused to send
};

// The status text of error, without the leading blank ("COM: invalid handle"); empty for None.
const char* LinkErrorText(LinkError error);

// Opens devicePath and configures it for the machine: 38400 8N1, no flow control, DTR and RTS
// off, the link's time limits and 2048-byte queues. A port whose configuration fails is closed
// again, so that it can be opened at once later.
LinkError ConnectSerialPort(SerialPort& port, const std::string& devicePath);

// Opens the maker's cable by its description at the machine's line settings; a cable that does
// not take them is closed again.
LinkError ConnectUsbCable(UsbLink& cable);

}  // namespace loadwing
