#include "gui/settings_store_win32.h"

#include <windows.h>

#include <utility>

namespace loadwing {

namespace {

// Closes the key it holds when it goes out of scope.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY* Receive() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

RegistrySettingsStore::RegistrySettingsStore(std::string programName, std::string registryKey)
    : keyPath_("software\\" + std::move(registryKey) + "\\" + std::move(programName)) {}

std::int32_t RegistrySettingsStore::ReadInt(const std::string& name) {
  RegistryKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_READ, key.Receive()) !=
      ERROR_SUCCESS) {
    return 0;
  }
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(value)) {
    return 0;
  }
  return static_cast<std::int32_t>(value);
}

void RegistrySettingsStore::WriteInt(const std::string& name, std::int32_t value) {
  RegistryKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  const DWORD data = static_cast<DWORD>(value);
  RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                 sizeof(data));
}

}  // namespace loadwing
