// The port listing against a sysfs tree built in a temporary folder the way the kernel lays it
// out: class/tty entries with a device link, serial-core "type" attributes, USB devices with
// their descriptors, and /dev/serial/by-id links.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fakes/temp_folder.h"
#include "link/sysfs_ports.h"

namespace loadwing {
namespace {

namespace fs = std::filesystem;

class SysfsPortsTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dev_ / "serial" / "by-id"); }
  void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  }
  void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(target, link);
  }
  // A USB device folder with its descriptors, listed in bus/usb/devices as the kernel does.
  fs::path UsbDevice(const std::string& name, const std::string& vendor, const std::string& product,
                     const std::string& serial, const std::string& text) {
    const fs::path folder = sys_ / "devices/pci0000:00/0000:00:14.0/usb1" / name;
    Write(folder / "idVendor", vendor);
    Write(folder / "idProduct", product);
    if (!serial.empty()) Write(folder / "serial", serial);
    Write(folder / "product", text);
    Link(sys_ / "bus/usb/devices" / name, folder);
    return folder;
  }
  // A tty in class/tty whose device link points at device (none when empty).
  void Tty(const std::string& name, const fs::path& device, const char* type = nullptr) {
    const fs::path entry = sys_ / "class/tty" / name;
    fs::create_directories(entry);
    if (!device.empty()) {
      fs::create_directories(device);
      Link(entry / "device", device);
    }
    if (type) Write(entry / "type", type);
    Write(dev_ / name, "");
  }

  testing::TempFolder folder_;
  const fs::path root_ = folder_.Path();
  const fs::path sys_ = root_ / "sys";
  const fs::path dev_ = root_ / "dev";
};

TEST_F(SysfsPortsTest, ListsHardwarePortsWithTheirUsbDescriptionsAndByIdNames) {
  const fs::path platform = sys_ / "devices/platform/serial8250";
  for (const char* name : {"ttyS0", "ttyS2", "ttyS10"}) Tty(name, platform, "4");
  Tty("ttyS1", platform, "0");  // a placeholder without a UART
  Tty("tty0", {});              // a virtual terminal
  Tty("ptmx", {});
  const fs::path ftdi = UsbDevice("1-2", "0403", "6001", "A9XYZ", "USB <-> ORV serial Device");
  Tty("ttyUSB0", ftdi / "1-2:1.0/ttyUSB0");
  const fs::path arduino = UsbDevice("1-3", "2341", "0043", "", "Arduino Uno");
  Tty("ttyACM0", arduino / "1-3:1.0");
  UsbDevice("1-4", "0403", "6015", "DQ01", "FT230X Basic UART");  // ftdi_sio not bound: no tty
  Link(dev_ / "serial/by-id/usb-FTDI_USB_-_ORV_serial_Device_A9XYZ-if00-port0", "../../ttyUSB0");
  Link(dev_ / "serial/by-id/usb-Arduino_Uno-if00", "../../ttyACM0");

  const std::vector<SysfsSerialPort> ports = ListSysfsSerialPorts(sys_.string(), dev_.string());
  std::vector<std::string> names;
  for (const SysfsSerialPort& port : ports) names.push_back(port.name);
  EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB0"}));
  ASSERT_EQ(ports.size(), 5u);

  const SysfsSerialPort& cable = ports[4];
  EXPECT_EQ(cable.device, (dev_ / "ttyUSB0").string());
  EXPECT_TRUE(cable.usb);
  EXPECT_TRUE(cable.ftdi);
  EXPECT_EQ(cable.vendorId + ":" + cable.productId, "0403:6001");
  EXPECT_EQ(cable.serialNumber, "A9XYZ");
  EXPECT_EQ(cable.product, "USB <-> ORV serial Device");
  EXPECT_EQ(
      cable.byId,
      (std::vector<std::string>{
          (dev_ / "serial/by-id/usb-FTDI_USB_-_ORV_serial_Device_A9XYZ-if00-port0").string()}));

  const SysfsSerialPort& acm = ports[0];
  EXPECT_TRUE(acm.usb);
  EXPECT_FALSE(acm.ftdi);
  EXPECT_EQ(acm.vendorId + ":" + acm.productId, "2341:0043");
  EXPECT_EQ(acm.serialNumber, "");
  EXPECT_EQ(acm.product, "Arduino Uno");
  EXPECT_EQ(acm.byId.size(), 1u);

  const SysfsSerialPort& uart = ports[1];
  EXPECT_FALSE(uart.usb);
  EXPECT_FALSE(uart.ftdi);
  EXPECT_TRUE(uart.vendorId.empty() && uart.product.empty() && uart.byId.empty());

  const std::vector<SysfsFtdiDevice> ftdiDevices = ListSysfsFtdiDevices(sys_.string());
  ASSERT_EQ(ftdiDevices.size(), 2u);
  EXPECT_EQ(ftdiDevices[0].product, "USB <-> ORV serial Device");
  EXPECT_EQ(ftdiDevices[1].productId, "6015");
  EXPECT_EQ(ftdiDevices[1].serialNumber, "DQ01");
}

TEST_F(SysfsPortsTest, AMissingTreeListsNothing) {
  EXPECT_TRUE(ListSysfsSerialPorts((root_ / "none").string(), dev_.string()).empty());
  EXPECT_TRUE(ListSysfsFtdiDevices((root_ / "none").string()).empty());
}

}  // namespace
}  // namespace loadwing
