#include "link/connection.h"

namespace loadwing {

int PortNumberFromEntry(const std::string& text) {
  // Shorter texts have no fourth character to read; they name no port.
  if (text.size() < 4) return -1;
  int n = text[3] - '0';
  if (text.size() > 4 && text[4] >= '0' && text[4] <= '9') n = n * 10 + (text[4] - '0');
  return n;
}

std::string SerialDevicePath(int portNumber) {
  return "\\\\.\\COM" + std::to_string(portNumber);
}

}  // namespace loadwing
