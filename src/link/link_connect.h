#pragma once
#include <string>

#include "link/serial_port.h"
#include "link/usb_link.h"

namespace loadwing {

// Errors in the link layer: opening a link returns a LinkError (None when it worked); moving
// bytes returns counts and bools (LinkIo sets the status text of a failed write itself, and the
// transfer turns it into FlashOutcome::WriteError). Nothing here throws or prints; words are made
// at the edge: LinkErrorText for the status line, the command line's exit codes and advice.

// Why a link could not be opened. Every layer above hands this on unchanged; only the status
// line turns it into words (LinkErrorText), and the command line into an exit code.
enum class LinkError {
  None,
  InvalidHandle,         // the serial port did not open
  CommState,             // its line settings were refused
  SetTimeout,            // its time limits were refused
  SetupComm,             // its queue sizes were refused
  UsbConnect,            // the cable was not found or did not take its settings
  NoSuchPort,            // the name given is no port of this system
  SimulatorUnavailable,  // the simulated machine is not in this build or did not start
};

// The status text of error, without the leading blank ("COM: invalid handle"); empty for None.
[[nodiscard]] const char* LinkErrorText(LinkError error);

// The status text of a write the serial port refused, without the leading blank.
inline constexpr const char* kWriteErrorText = "Write COM: write error";

// Opens devicePath and configures it for the machine: 38400 8N1, no flow control, DTR and RTS
// off, the link's time limits and 2048-byte queues. A port whose configuration fails is closed
// again, so that it can be opened at once later.
[[nodiscard]] LinkError ConnectSerialPort(SerialPort& port, const std::string& devicePath);

// Opens the maker's cable by its description at the machine's line settings; a cable that does
// not take them is closed again.
[[nodiscard]] LinkError ConnectUsbCable(UsbLink& cable);

}  // namespace loadwing
