#include "link/serial_port_map_win32.h"

#include <cstring>

namespace loadwing {

RegistrySerialPortMap::~RegistrySerialPortMap() {
  Close();
}

bool RegistrySerialPortMap::Open() {
  Close();
  HKEY key = nullptr;
  if (::RegOpenKeyExA(root_, subKey_, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  key_ = key;
  return true;
}

bool RegistrySerialPortMap::EnumValue(std::uint32_t index, char (&name)[kPortMapBufferSize],
                                      std::uint32_t& type, char (&data)[kPortMapBufferSize]) {
  // Zeroed whole, so that data the registry returns without a terminator (REG_BINARY, or a
  // string stored without one) cannot run on into the bytes of an earlier value.
  std::memset(name, 0, sizeof name);
  std::memset(data, 0, sizeof data);
  type = REG_NONE;
  if (key_ == nullptr) return false;
  DWORD nameLength = kPortMapBufferSize;
  DWORD valueType = REG_NONE;
  DWORD dataSize = kPortMapBufferSize;
  const LONG result = ::RegEnumValueA(key_, index, name, &nameLength, nullptr, &valueType,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
  // The caller reads both buffers as strings, even after a failed call. Data that exactly fills
  // its buffer comes back without a terminator, and a call refused with ERROR_MORE_DATA may
  // leave anything behind: the last byte is always made the end.
  name[kPortMapBufferSize - 1] = '\0';
  data[kPortMapBufferSize - 1] = '\0';
  type = valueType;
  return result == ERROR_SUCCESS;
}

void RegistrySerialPortMap::Close() {
  if (key_ == nullptr) return;
  ::RegCloseKey(key_);
  key_ = nullptr;
}

}  // namespace loadwing
