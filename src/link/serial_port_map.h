#pragma once
#include <cstdint>

namespace loadwing {

inline constexpr std::uint32_t kRegSz = 1;  // REG_SZ
inline constexpr std::uint32_t kPortMapBufferSize = 200;

// The system's serial-port map: an ordered sequence of (value name, type, data) triples that
// ends with a failed read. On Windows: HKLM "HARDWARE\DEVICEMAP\SERIALCOMM".
class SerialPortMap {
 public:
  virtual ~SerialPortMap() = default;
  virtual bool Open() = 0;
  // Value number index. name and data are 200-byte buffers; the implementation never writes
  // past them and leaves what it wrote zero-terminated within them when it can.
  virtual bool EnumValue(std::uint32_t index, char (&name)[kPortMapBufferSize], std::uint32_t& type,
                         char (&data)[kPortMapBufferSize]) = 0;
  virtual void Close() = 0;
};

}  // namespace loadwing
