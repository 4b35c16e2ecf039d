#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "link/sysfs_ports.h"

namespace loadwing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFtdiVendorId = "0403";

// One sysfs attribute, without its line end; empty when it cannot be read.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string value;
  std::getline(in, value);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' ')) {
    value.pop_back();
  }
  return value;
}

std::vector<fs::path> Entries(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// ttyS10 after ttyS9: by the name's prefix, then its number.
bool NaturalLess(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& s) {
    std::size_t i = s.size();
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    const long long n = i < s.size() && s.size() - i < 18 ? std::stoll(s.substr(i)) : -1;
    return std::make_pair(s.substr(0, i), n);
  };
  return split(a) < split(b);
}

// Where a symbolic link points, resolved by its text only (nothing behind it is touched).
fs::path LinkTarget(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  if (ec) return {};
  return (target.is_absolute() ? target : link.parent_path() / target).lexically_normal();
}

// The USB device a tty belongs to: the nearest folder above its device that has an idVendor.
fs::path UsbDeviceOf(const fs::path& ttyDevice, const fs::path& sysRoot) {
  const fs::path root = sysRoot.lexically_normal();
  for (fs::path folder = ttyDevice; !folder.empty() && folder != root && folder.has_relative_path();
       folder = folder.parent_path()) {
    std::error_code ec;
    if (fs::exists(folder / "idVendor", ec)) return folder;
    if (folder == folder.parent_path()) break;
  }
  return {};
}

}  // namespace

std::vector<SysfsSerialPort> ListSysfsSerialPorts(const std::string& sysRoot,
                                                  const std::string& devRoot) {
  std::vector<SysfsSerialPort> ports;
  for (const fs::path& tty : Entries(fs::path(sysRoot) / "class" / "tty")) {
    std::error_code ec;
    // Virtual terminals, pseudo-terminals and the console have no device behind them.
    if (!fs::is_symlink(tty / "device", ec)) continue;
    // Serial-core ports tell their UART type; 0 is none (a placeholder without hardware).
    if (Attribute(tty / "type") == "0") continue;
    SysfsSerialPort port;
    port.name = tty.filename().string();
    port.device = (fs::path(devRoot) / port.name).string();
    const fs::path device = fs::canonical(tty / "device", ec);
    const fs::path usb = ec ? fs::path() : UsbDeviceOf(device, fs::canonical(sysRoot, ec));
    if (!usb.empty()) {
      port.usb = true;
      port.vendorId = Attribute(usb / "idVendor");
      port.productId = Attribute(usb / "idProduct");
      port.serialNumber = Attribute(usb / "serial");
      port.product = Attribute(usb / "product");
      port.ftdi = port.vendorId == kFtdiVendorId;
    }
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(), [](const SysfsSerialPort& a, const SysfsSerialPort& b) {
    return NaturalLess(a.name, b.name);
  });
  const fs::path byId = fs::path(devRoot) / "serial" / "by-id";
  for (const fs::path& link : Entries(byId)) {
    const fs::path target = LinkTarget(link);
    for (SysfsSerialPort& port : ports) {
      if (target == fs::path(port.device).lexically_normal()) port.byId.push_back(link.string());
    }
  }
  return ports;
}

std::vector<SysfsFtdiDevice> ListSysfsFtdiDevices(const std::string& sysRoot) {
  std::vector<SysfsFtdiDevice> devices;
  for (const fs::path& usb : Entries(fs::path(sysRoot) / "bus" / "usb" / "devices")) {
    if (Attribute(usb / "idVendor") != kFtdiVendorId) continue;
    devices.push_back(
        {Attribute(usb / "idProduct"), Attribute(usb / "serial"), Attribute(usb / "product")});
  }
  return devices;
}

}  // namespace loadwing
