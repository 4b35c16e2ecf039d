// RegistrySettingsStore against the registry of the Wine prefix.
#include "gui/settings_store_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace loadwing {
namespace {

// Each test works under a key of its own, removed before and after.
class RegistrySettingsStoreTest : public ::testing::Test {
 protected:
  static constexpr const char* kCompany = "LoadwingTestKey";
  std::string program = ::testing::UnitTest::GetInstance()->current_test_info()->name();

  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, "software\\LoadwingTestKey"); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "software\\LoadwingTestKey"); }

  // Writes a raw value the way another program might have left it.
  void WriteRaw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ("software\\LoadwingTestKey\\" + program).c_str(),
                              0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }
};

TEST_F(RegistrySettingsStoreTest, KeyPathIsSoftwareCompanyProgram) {
  RegistrySettingsStore store("loadwing");
  EXPECT_EQ(store.KeyPath(), "software\\ORVTovrel_KVT.EXE\\loadwing");
}

TEST_F(RegistrySettingsStoreTest, MissingKeyReadsZero) {
  RegistrySettingsStore store(program, kCompany);
  EXPECT_EQ(store.ReadInt("COMSetting"), 0);
}

TEST_F(RegistrySettingsStoreTest, WriteCreatesTheKeysAndReadsBack) {
  RegistrySettingsStore store(program, kCompany);
  store.WriteInt("COMSetting", 0x105);
  EXPECT_EQ(store.ReadInt("COMSetting"), 0x105);
  EXPECT_EQ(RegistrySettingsStore(program, kCompany).ReadInt("COMSetting"), 0x105);
  EXPECT_EQ(store.ReadInt("Other"), 0);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, ("software\\LoadwingTestKey\\" + program).c_str(), 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = sizeof(value);
  EXPECT_EQ(
      RegQueryValueExA(key, "COMSetting", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
      ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 0x105u);
}

TEST_F(RegistrySettingsStoreTest, OverwritesAndKeepsNegativeValues) {
  RegistrySettingsStore store(program, kCompany);
  store.WriteInt("COMSetting", 0x200);
  store.WriteInt("COMSetting", -1);
  EXPECT_EQ(store.ReadInt("COMSetting"), -1);
  store.WriteInt("COMSetting", 0);
  EXPECT_EQ(store.ReadInt("COMSetting"), 0);
}

TEST_F(RegistrySettingsStoreTest, ValueOfAnotherTypeReadsZero) {
  WriteRaw("Text", REG_SZ, "261", 4);
  const DWORD value = 0x103;
  WriteRaw("Binary", REG_BINARY, &value, sizeof(value));
  const unsigned long long wide = 0x103;
  WriteRaw("Wide", REG_QWORD, &wide, sizeof(wide));
  RegistrySettingsStore store(program, kCompany);
  EXPECT_EQ(store.ReadInt("Text"), 0);
  EXPECT_EQ(store.ReadInt("Binary"), 0);
  EXPECT_EQ(store.ReadInt("Wide"), 0);
}

}  // namespace
}  // namespace loadwing
