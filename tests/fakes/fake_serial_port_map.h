#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "link/serial_port_map.h"

namespace loadwing::testing {

// A serial-port map given as a list of values. A read past the last value fails, as the
// registry's enumeration does. Over-long names or data are copied cut at the buffer's end and,
// when `terminate` is false, without a terminating zero: the reader must stay inside.
class FakeSerialPortMap final : public SerialPortMap {
 public:
  struct Value {
    std::string name;
    std::string data;
    std::uint32_t type = kRegSz;
    bool fails = false;     // this read fails, though its buffers were written
    bool nameOnly = false;  // this read leaves the data buffer as it found it
  };

  bool Open() override {
    ++opens;
    return openOk;
  }
  bool EnumValue(std::uint32_t index, char (&name)[kPortMapBufferSize], std::uint32_t& type,
                 char (&data)[kPortMapBufferSize]) override {
    ++reads;
    if (index >= values.size()) return false;
    const Value& v = values[index];
    Copy(name, v.name);
    if (!v.nameOnly) Copy(data, v.data);
    type = v.type;
    return !v.fails;
  }
  void Close() override { ++closes; }

  std::vector<Value> values;
  bool openOk = true;
  bool terminate = true;
  int opens = 0, reads = 0, closes = 0;

 private:
  void Copy(char (&buffer)[kPortMapBufferSize], const std::string& text) const {
    const std::size_t n = std::min<std::size_t>(text.size(), kPortMapBufferSize);
    std::memcpy(buffer, text.data(), n);
    if (n < kPortMapBufferSize)
      buffer[n] = '\0';
    else if (terminate)
      buffer[kPortMapBufferSize - 1] = '\0';
  }
};

}  // namespace loadwing::testing
