#pragma once
#include <cstdint>
#include <string>

namespace loadwing {

// Per-user storage of named 32-bit integers. A value never written reads as 0.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::int32_t ReadInt(const std::string& name) = 0;
  virtual void WriteInt(const std::string& name, std::int32_t value) = 0;
};

}  // namespace loadwing
