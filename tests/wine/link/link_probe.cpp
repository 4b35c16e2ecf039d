// Drives the Win32 link layers one command at a time, so that a script on the host can check
// each step from the far end of a pseudo-terminal. One command per line on standard input, one
// answer line on standard output: "OK ..." or "FAIL ...". Byte strings are hexadecimal.
//
//   serial-open PATH         Open, SetCommState, SetCommTimeouts, SetupComm(2048, 2048)
//   serial-open-second PATH  a second CreateFileA of PATH: "OK refused ERR" or "OK opened"
//   serial-write HEX         written in pieces of at most 128 bytes: "OK 128,128,1"
//   serial-read N MS         one-byte reads until N bytes or MS milliseconds: "OK HEX"
//   serial-read-once         one one-byte read: "OK got=G ms=T"
//   serial-purge | serial-close
//   ports                    the serial entries DiscoverSerialPorts makes, joined by '|'
//   d2xx-loaded              "OK 1" when FTD2XX.dll was bound
//   d2xx-calls               the status of each of the eight calls on a dummy handle
//   usb-find DESC | usb-open DESC (38400 8N1) | usb-write HEX | usb-read N MS | usb-close
//   quit
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "link/d2xx_win32.h"
#include "link/port_discovery.h"
#include "link/serial_port_map_win32.h"
#include "link/serial_port_win32.h"
#include "link/usb_link.h"

namespace loadwing {
namespace {

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

std::vector<std::uint8_t> FromHex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

void Answer(const std::string& line) {
  std::cout << line << std::endl;
}

std::string Rest(std::istringstream& words) {
  std::string rest;
  std::getline(words >> std::ws, rest);
  return rest;
}

class Probe {
 public:
  Probe() : cable_(library_) {}

  bool Run(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "quit") return false;
    if (command == "serial-open") {
      SerialOpen(Rest(words));
    } else if (command == "serial-open-second") {
      const std::string path = Rest(words);
      HANDLE second = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (second == INVALID_HANDLE_VALUE) {
        Answer("OK refused " + std::to_string(::GetLastError()));
      } else {
        ::CloseHandle(second);
        Answer("OK opened");
      }
    } else if (command == "serial-write") {
      SerialWrite(FromHex(Rest(words)));
    } else if (command == "serial-read") {
      std::uint32_t n = 0, ms = 0;
      words >> n >> ms;
      SerialRead(n, ms);
    } else if (command == "serial-read-once") {
      std::uint8_t byte = 0;
      std::uint32_t got = 0;
      const ULONGLONG start = ::GetTickCount64();
      const bool ok = serial_.Read(&byte, 1, got);
      const ULONGLONG elapsed = ::GetTickCount64() - start;
      Answer(std::string(ok ? "OK" : "FAIL") + " got=" + std::to_string(got) +
             " ms=" + std::to_string(elapsed));
    } else if (command == "serial-purge") {
      Answer(serial_.Purge() ? "OK" : "FAIL purge " + std::to_string(::GetLastError()));
    } else if (command == "serial-close") {
      serial_.Close();
      Answer(serial_.IsOpen() ? "FAIL still open" : "OK");
    } else if (command == "ports") {
      RegistrySerialPortMap map;
      std::string joined;
      for (const std::string& entry : DiscoverSerialPorts(map)) {
        joined += (joined.empty() ? "" : "|") + entry;
      }
      Answer("OK " + joined);
    } else if (command == "d2xx-loaded") {
      Answer(library_.Loaded() ? "OK 1" : "OK 0");
    } else if (command == "d2xx-calls") {
      D2xxCalls();
    } else if (command == "usb-find") {
      Answer("OK " + std::to_string(cable_.FindByDescription(Rest(words))));
    } else if (command == "usb-open") {
      Answer(cable_.OpenByDescription(Rest(words), 38400, 0, 0, 8) ? "OK 1" : "OK 0");
    } else if (command == "usb-write") {
      std::vector<std::uint8_t> bytes = FromHex(Rest(words));
      const std::uint32_t written =
          cable_.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
      Answer("OK " + std::to_string(written));
    } else if (command == "usb-read") {
      std::uint32_t n = 0, ms = 0;
      words >> n >> ms;
      UsbRead(n, ms);
    } else if (command == "usb-close") {
      Answer(cable_.Close() ? "OK 1" : "OK 0");
    } else {
      Answer("FAIL unknown command " + command);
    }
    return true;
  }

 private:
  void SerialOpen(const std::string& path) {
    if (!serial_.Open(path)) {
      Answer("FAIL open " + std::to_string(::GetLastError()));
    } else if (!serial_.SetCommState(SerialLineSettings{})) {
      Answer("FAIL commstate " + std::to_string(::GetLastError()));
    } else if (!serial_.SetCommTimeouts(SerialTimeouts{})) {
      Answer("FAIL timeouts " + std::to_string(::GetLastError()));
    } else if (!serial_.SetupComm(2048, 2048)) {
      Answer("FAIL setupcomm " + std::to_string(::GetLastError()));
    } else {
      Answer("OK");
      return;
    }
    serial_.Close();
  }

  void SerialWrite(const std::vector<std::uint8_t>& bytes) {
    std::string pieces;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const auto chunk =
          static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() - sent, 128));
      std::uint32_t written = 0;
      if (!serial_.Write(bytes.data() + sent, chunk, written) || written == 0) {
        Answer("FAIL write after " + std::to_string(sent));
        return;
      }
      pieces += (pieces.empty() ? "" : ",") + std::to_string(written);
      sent += written;
    }
    Answer("OK " + pieces);
  }

  void SerialRead(std::uint32_t n, std::uint32_t ms) {
    std::vector<std::uint8_t> bytes;
    const ULONGLONG start = ::GetTickCount64();
    while (bytes.size() < n && ::GetTickCount64() - start < ms) {
      std::uint8_t byte = 0;
      std::uint32_t got = 0;
      if (serial_.Read(&byte, 1, got) && got == 1) bytes.push_back(byte);
    }
    Answer("OK " + ToHex(bytes));
  }

  void UsbRead(std::uint32_t n, std::uint32_t ms) {
    std::vector<std::uint8_t> bytes;
    const ULONGLONG start = ::GetTickCount64();
    while (bytes.size() < n && ::GetTickCount64() - start < ms) {
      std::uint8_t buffer[512];
      const auto wanted =
          static_cast<std::uint32_t>(std::min<std::size_t>(n - bytes.size(), sizeof buffer));
      const std::uint32_t got = cable_.Read(buffer, wanted);
      bytes.insert(bytes.end(), buffer, buffer + got);
      if (got == 0) ::Sleep(1);
    }
    Answer("OK " + ToHex(bytes));
  }

  void D2xxCalls() {
    const FtHandle dummy = reinterpret_cast<FtHandle>(0x10);
    std::uint32_t count = 0;
    FtHandle handle = nullptr;
    std::uint8_t buffer[4] = {};
    std::ostringstream statuses;
    statuses << library_.ListDevices(&count, nullptr, kFtListNumberOnly) << ','
             << library_.Open(0, &handle) << ',' << library_.Read(dummy, buffer, 4, &count) << ','
             << library_.Write(dummy, buffer, 4, &count) << ','
             << library_.SetBaudRate(dummy, 38400) << ','
             << library_.SetDataCharacteristics(dummy, 8, 0, 0) << ','
             << library_.GetQueueStatus(dummy, &count) << ',' << library_.Close(dummy);
    Answer("OK " + statuses.str());
  }

  Win32SerialPort serial_;
  // Bound once, at start, as the program does.
  Ftd2xxLibrary library_;
  UsbLink cable_;
};

}  // namespace
}  // namespace loadwing

int main() {
  loadwing::Probe probe;
  loadwing::Answer("READY");
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!probe.Run(line)) break;
  }
  return 0;
}
