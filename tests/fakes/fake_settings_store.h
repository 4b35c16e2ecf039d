#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "app/settings_store.h"

namespace loadwing::testing {

class FakeSettingsStore final : public SettingsStore {
 public:
  std::int32_t ReadInt(const std::string& name) override {
    auto it = values.find(name);
    return it == values.end() ? 0 : it->second;
  }
  void WriteInt(const std::string& name, std::int32_t value) override { values[name] = value; }
  std::map<std::string, std::int32_t> values;
};

}  // namespace loadwing::testing
