#pragma once
#include <windows.h>

#include <cstdint>

#include "link/serial_port_map.h"

namespace loadwing {

inline constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The serial-port map as the registry keeps it. The key is a parameter only so that tests can
// point the same code at a key they own.
class RegistrySerialPortMap final : public SerialPortMap {
 public:
  explicit RegistrySerialPortMap(HKEY root = HKEY_LOCAL_MACHINE,
                                 const char* subKey = kSerialCommKey)
      : root_(root), subKey_(subKey) {}
  ~RegistrySerialPortMap() override;
  RegistrySerialPortMap(const RegistrySerialPortMap&) = delete;
  RegistrySerialPortMap& operator=(const RegistrySerialPortMap&) = delete;

  bool Open() override;
  bool EnumValue(std::uint32_t index, char (&name)[kPortMapBufferSize], std::uint32_t& type,
                 char (&data)[kPortMapBufferSize]) override;
  void Close() override;

 private:
  HKEY root_;
  const char* subKey_;
  HKEY key_ = nullptr;
};

}  // namespace loadwing
