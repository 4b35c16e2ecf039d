#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/d2xx.h"
#include "link/link_connect.h"
#include "link/serial_port.h"

namespace loadwing::cli {

// One connection a person could choose for --port or --usb.
struct PortEntry {
  std::string name;    // what to pass to --port ("/dev/ttyUSB0", "COM3"), or the cable's entry
  std::string device;  // the device behind it (a by-id link's tty), empty when the same
  std::string detail;  // what the system says about it, may be empty
  bool usbCable = false;
  // A USB serial adapter's own description (Linux); empty for other ports.
  std::string usbId;         // vendor:product, "0403:6001"
  std::string serialNumber;  // the adapter's serial number
  std::string product;       // the product text it reports
  bool ftdi = false;         // made by FTDI
};

// The connections of this platform, in the order a person would look through them.
[[nodiscard]] std::vector<PortEntry> ListPorts();

// A serial port and a D2XX table of this platform.
[[nodiscard]] std::unique_ptr<SerialPort> MakeSerialPort();
[[nodiscard]] std::unique_ptr<D2xx> MakeD2xx();

// What --port names, turned into the path the serial layer opens.
struct ResolvedPort {
  std::string devicePath;  // as SerialPort::Open takes it
  std::string label;       // how the status line names it ("COM3", "/dev/ttyUSB0")
  int portNumber = 0;      // COMn's n on Windows, 0 elsewhere
  std::string error;       // non-empty: the name is not usable here
  bool notFound = false;   // with error: there is no such port (the ports there are may help)
};
[[nodiscard]] ResolvedPort ResolveSerialPort(const std::string& port);

// Why the port could not be used after connecting failed with error, told apart as a person
// needs it: no such device, permission denied (and the command that gives it), held by another
// program (named where the system tells), not a serial device. One line per entry; notFound is
// set when the ports there are would help.
[[nodiscard]] std::vector<std::string> DescribePortFailure(const ResolvedPort& port,
                                                           LinkError error, bool& notFound);

// The simulated machine's settings taken from the --sim-... options.
struct SimOptions {
  std::uint32_t baud = 0;
  bool silent = false;
  bool eraseError = false;
  std::optional<std::string> unexpected;
  std::optional<std::uint32_t> refuseBlock;
  std::optional<std::uint32_t> silentBlock;
  std::optional<std::string> verdict;
  bool silentVerdict = false;
};

// A simulated machine running inside this process on a serial line of its own.
class SimulatedMachine {
 public:
  virtual ~SimulatedMachine() = default;
  [[nodiscard]] virtual std::string DevicePath() const = 0;
};

// Starts the simulated machine; null with error set where there is none (Windows) or it cannot
// start.
[[nodiscard]] std::unique_ptr<SimulatedMachine> StartSimulatedMachine(const SimOptions& options,
                                                                      std::string& error);

}  // namespace loadwing::cli
