#pragma once
#include <string>
#include <vector>

namespace loadwing {

// A serial device as the kernel describes it in sysfs, found without opening any device (opening
// a tty raises DTR and RTS on whatever is plugged into it).
struct SysfsSerialPort {
  std::string name;               // "ttyUSB0"
  std::string device;             // "/dev/ttyUSB0" (under the given device root)
  std::vector<std::string> byId;  // the /dev/serial/by-id links to it, sorted
  // Of the USB device behind a USB serial adapter; all empty for other ports.
  std::string vendorId;   // "0403", as sysfs spells it
  std::string productId;  // "6001"
  std::string serialNumber;
  std::string product;  // the product text the adapter reports
  bool usb = false;
  bool ftdi = false;  // made by FTDI (vendor 0403)
};

// A USB device made by FTDI, whether or not a kernel driver made a tty of it.
struct SysfsFtdiDevice {
  std::string productId;
  std::string serialNumber;
  std::string product;
};

// The serial ports that have hardware behind them: every tty in sysRoot/class/tty with a
// device, except serial-core ports whose UART type is unknown (the ttyS0..31 placeholders).
// Sorted by name with numbers in order (ttyS2 before ttyS10). devRoot is where the device nodes
// and serial/by-id are; both roots are parameters so that tests can build a tree of their own.
std::vector<SysfsSerialPort> ListSysfsSerialPorts(const std::string& sysRoot = "/sys",
                                                  const std::string& devRoot = "/dev");

// The FTDI USB devices in sysRoot/bus/usb/devices, in the order of their sysfs names.
std::vector<SysfsFtdiDevice> ListSysfsFtdiDevices(const std::string& sysRoot = "/sys");

}  // namespace loadwing
