#include <windows.h>

#include <cctype>

#include "cli/cli_platform.h"
#include "link/connection.h"
#include "link/d2xx_win32.h"
#include "link/port_discovery.h"
#include "link/serial_port_map_win32.h"
#include "link/serial_port_win32.h"
#include "link/usb_link.h"

namespace loadwing::cli {

std::vector<PortEntry> ListPorts() {
  std::vector<PortEntry> entries;
  RegistrySerialPortMap map;
  // The very entries of the dialog's connection list: "COM3  (Serial0)" is passed as COM3.
  for (const std::string& entry : DiscoverSerialPorts(map)) {
    PortEntry port;
    const std::size_t blank = entry.find(' ');
    port.name = entry.substr(0, blank);
    if (blank != std::string::npos) {
      const std::size_t open = entry.find('(', blank);
      const std::size_t close = entry.rfind(')');
      if (open != std::string::npos && close != std::string::npos && close > open) {
        port.detail = entry.substr(open + 1, close - open - 1);
      }
    }
    entries.push_back(std::move(port));
  }
  Ftd2xxLibrary d2xx;
  UsbLink cable(d2xx);
  if (ProbeUsbCable(cable)) {
    PortEntry port;
    port.name = kUsbCableEntry;
    port.detail = "use --usb";
    port.usbCable = true;
    entries.push_back(std::move(port));
  }
  return entries;
}

std::unique_ptr<SerialPort> MakeSerialPort() {
  return std::make_unique<Win32SerialPort>();
}

std::unique_ptr<D2xx> MakeD2xx() {
  return std::make_unique<Ftd2xxLibrary>();
}

ResolvedPort ResolveSerialPort(const std::string& port) {
  ResolvedPort resolved;
  // COMn in any letter case, as the connection list names ports.
  const bool com = port.size() > 3 && std::toupper(static_cast<unsigned char>(port[0])) == 'C' &&
                   std::toupper(static_cast<unsigned char>(port[1])) == 'O' &&
                   std::toupper(static_cast<unsigned char>(port[2])) == 'M';
  int n = 0;
  bool digits = com;
  for (std::size_t i = 3; com && i < port.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(port[i])) || n > 255) {
      digits = false;
      break;
    }
    n = n * 10 + (port[i] - '0');
  }
  if (!digits || n < 1 || n > 255) {
    resolved.error = "\"" + port + "\" is not a serial port name; use COM1, COM2, ...";
    return resolved;
  }
  resolved.devicePath = SerialDevicePath(n);
  resolved.label = "COM" + std::to_string(n);
  resolved.portNumber = n;
  return resolved;
}

std::vector<std::string> DescribePortFailure(const ResolvedPort& port, LinkError error,
                                             bool& notFound) {
  notFound = false;
  // Asked once more, for the reason Windows gives; closed again at once.
  const HANDLE handle = CreateFileA(port.devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return {port.label + " did not take the serial settings (" + std::string(LinkErrorText(error)) +
            "): is it a serial port?"};
  }
  const DWORD reason = GetLastError();
  switch (reason) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      notFound = true;
      return {"no such device: " + port.label};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return {port.label +
              " is held by another program (a terminal, another loader); close it, "
              "or wait until it is done"};
    default:
      return {"cannot open " + port.label + " (Windows error " + std::to_string(reason) + ")"};
  }
}

std::unique_ptr<SimulatedMachine> StartSimulatedMachine(const SimOptions&, std::string& error) {
  error =
      "the simulated machine (--port sim) exists only in the Linux build; on Windows, run "
      "loadwing-sim on a Linux machine and connect through a serial line, or use a real machine";
  return nullptr;
}

}  // namespace loadwing::cli
