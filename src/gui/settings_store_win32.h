#pragma once
#include <cstdint>
#include <string>

#include "app/settings_store.h"

namespace loadwing {

// The registry key under HKCU\software that holds every program's settings.
inline constexpr const char* kSettingsRegistryKey = "ORVTovrel_KVT.EXE";

// Named 32-bit integers as REG_DWORD values in HKCU "software\<registry key>\<program name>".
// The keys are created on the first write.
class RegistrySettingsStore final : public SettingsStore {
 public:
  explicit RegistrySettingsStore(std::string programName,
                                 std::string registryKey = kSettingsRegistryKey);

  // 0 when the key or the value is missing, or the value is not a 4-byte REG_DWORD.
  std::int32_t ReadInt(const std::string& name) override;
  // Failures are not reported: nobody could act on them.
  void WriteInt(const std::string& name, std::int32_t value) override;

  const std::string& KeyPath() const { return keyPath_; }

 private:
  std::string keyPath_;
};

}  // namespace loadwing
