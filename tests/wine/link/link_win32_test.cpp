// The Win32 layers of the device link, in one process under Wine: the records sent to the
// communications driver, the registry map against keys of the test's own, and the binding of
// FTD2XX.dll (the stand-in beside this executable, a library lacking an ordinal, none at all).
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "link/d2xx_win32.h"
#include "link/port_discovery.h"
#include "link/serial_port_map_win32.h"
#include "link/serial_port_win32.h"
#include "link/usb_link.h"

namespace loadwing {
namespace {

TEST(BuildDcb, IsTheMachineLineByteForByte) {
  const DCB dcb = BuildDcb(SerialLineSettings{});
  ASSERT_EQ(sizeof dcb, 28u);
  // DCBlength 28, BaudRate 38400, the flag word with only fBinary (so fOutX = fInX = 0),
  // wReserved, XonLim, XoffLim, ByteSize 8, Parity 0, StopBits 0, XonChar DC1, XoffChar DC3
  // (drivers refuse two equal ones), ErrorChar, EofChar, EvtChar and wReserved1 all 0.
  const std::array<std::uint8_t, 28> expected = {28, 0,    0,    0, 0x00, 0x96, 0, 0, 1, 0,
                                                 0,  0,    0,    0, 0,    0,    0, 0, 8, 0,
                                                 0,  0x11, 0x13, 0, 0,    0,    0, 0};
  std::array<std::uint8_t, 28> actual{};
  std::memcpy(actual.data(), &dcb, sizeof dcb);
  EXPECT_EQ(actual, expected);
}

TEST(BuildDcb, TakesTheGivenFormat) {
  SerialLineSettings settings;
  settings.baudRate = 9600;
  settings.byteSize = 7;
  settings.parity = EVENPARITY;
  settings.stopBits = TWOSTOPBITS;
  const DCB dcb = BuildDcb(settings);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
}

TEST(BuildCommTimeouts, CarriesTheFiveLimits) {
  const COMMTIMEOUTS timeouts = BuildCommTimeouts(SerialTimeouts{});
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 500u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 10u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 10u);
}

TEST(Win32SerialPort, AMissingPortDoesNotOpenAndEveryCallFails) {
  Win32SerialPort port;
  EXPECT_FALSE(port.Open("\\\\.\\COM97"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.SetCommState(SerialLineSettings{}));
  EXPECT_FALSE(port.SetCommTimeouts(SerialTimeouts{}));
  EXPECT_FALSE(port.SetupComm(2048, 2048));
  EXPECT_FALSE(port.Purge());
  std::uint8_t byte = 0x55;
  std::uint32_t count = 7;
  EXPECT_FALSE(port.Read(&byte, 1, count));
  EXPECT_EQ(count, 0u);
  count = 7;
  EXPECT_FALSE(port.Write(&byte, 1, count));
  EXPECT_EQ(count, 0u);
  port.Close();
  port.Close();
  EXPECT_FALSE(port.IsOpen());
}

// A registry key of the test's own under HKCU, removed again on every path.
class TestKey {
 public:
  explicit TestKey(const std::string& leaf)
      : path_("Software\\LoadwingTests\\" + std::to_string(::GetCurrentProcessId()) + "\\" + leaf) {
    ::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key_, nullptr);
  }
  ~TestKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\LoadwingTests");
  }
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;

  bool Set(const std::string& name, DWORD type, const std::string& bytes) {
    return ::RegSetValueExA(key_, name.c_str(), 0, type,
                            reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
  }
  bool SetString(const std::string& name, const std::string& text) {
    return Set(name, REG_SZ, std::string(text.c_str(), text.size() + 1));
  }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
  HKEY key_ = nullptr;
};

struct Buffers {
  char name[kPortMapBufferSize];
  char data[kPortMapBufferSize];
  std::uint32_t type = 0xFFFF;
  Buffers() {
    std::memset(name, 'N', sizeof name);
    std::memset(data, 'D', sizeof data);
  }
  bool Terminated() const {
    return std::memchr(name, 0, sizeof name) != nullptr &&
           std::memchr(data, 0, sizeof data) != nullptr;
  }
};

TEST(RegistrySerialPortMap, EnumeratesAStringValue) {
  TestKey key("plain");
  ASSERT_TRUE(key.SetString("\\Device\\Serial7", "COM7"));
  RegistrySerialPortMap map(HKEY_CURRENT_USER, key.path());
  ASSERT_TRUE(map.Open());
  Buffers b;
  ASSERT_TRUE(map.EnumValue(0, b.name, b.type, b.data));
  EXPECT_STREQ(b.name, "\\Device\\Serial7");
  EXPECT_STREQ(b.data, "COM7");
  EXPECT_EQ(b.type, static_cast<std::uint32_t>(REG_SZ));
  // Past the last value: a failure, with empty strings left behind.
  Buffers end;
  EXPECT_FALSE(map.EnumValue(1, end.name, end.type, end.data));
  EXPECT_STREQ(end.name, "");
  EXPECT_STREQ(end.data, "");
  map.Close();
  Buffers closed;
  EXPECT_FALSE(map.EnumValue(0, closed.name, closed.type, closed.data));
  EXPECT_TRUE(closed.Terminated());
}

TEST(RegistrySerialPortMap, DataThatExactlyFillsTheBufferIsLeftTerminated) {
  TestKey key("exact");
  const std::string exact = "COM9" + std::string(kPortMapBufferSize - 4, 'x');
  ASSERT_TRUE(key.Set("\\Device\\Exact", REG_BINARY, exact));
  RegistrySerialPortMap map(HKEY_CURRENT_USER, key.path());
  ASSERT_TRUE(map.Open());
  Buffers b;
  EXPECT_TRUE(map.EnumValue(0, b.name, b.type, b.data));
  EXPECT_EQ(b.type, static_cast<std::uint32_t>(REG_BINARY));
  ASSERT_TRUE(b.Terminated());
  EXPECT_EQ(std::string(b.data), exact.substr(0, kPortMapBufferSize - 1));
}

TEST(RegistrySerialPortMap, TooLongDataOrNameFailsAndLeavesTerminatedBuffers) {
  TestKey longData("longdata");
  ASSERT_TRUE(longData.SetString("\\Device\\Long", "COM4" + std::string(300, 'y')));
  RegistrySerialPortMap dataMap(HKEY_CURRENT_USER, longData.path());
  ASSERT_TRUE(dataMap.Open());
  Buffers b;
  EXPECT_FALSE(dataMap.EnumValue(0, b.name, b.type, b.data));
  EXPECT_TRUE(b.Terminated());

  TestKey longName("longname");
  ASSERT_TRUE(longName.SetString(std::string(250, 'n'), "COM5"));
  RegistrySerialPortMap nameMap(HKEY_CURRENT_USER, longName.path());
  ASSERT_TRUE(nameMap.Open());
  Buffers c;
  EXPECT_FALSE(nameMap.EnumValue(0, c.name, c.type, c.data));
  EXPECT_TRUE(c.Terminated());
}

TEST(RegistrySerialPortMap, UnterminatedDataDoesNotRunIntoAnEarlierValue) {
  TestKey longer("longer");
  ASSERT_TRUE(longer.SetString("\\Device\\Serial12", "COM12"));
  TestKey shorter("shorter");
  ASSERT_TRUE(shorter.Set("\\Device\\Serial3", REG_BINARY, "COM3"));
  Buffers b;
  RegistrySerialPortMap first(HKEY_CURRENT_USER, longer.path());
  ASSERT_TRUE(first.Open());
  ASSERT_TRUE(first.EnumValue(0, b.name, b.type, b.data));
  RegistrySerialPortMap second(HKEY_CURRENT_USER, shorter.path());
  ASSERT_TRUE(second.Open());
  ASSERT_TRUE(second.EnumValue(0, b.name, b.type, b.data));
  EXPECT_STREQ(b.data, "COM3");
  EXPECT_STREQ(b.name, "\\Device\\Serial3");
}

TEST(RegistrySerialPortMap, AMissingKeyDoesNotOpen) {
  RegistrySerialPortMap map(HKEY_CURRENT_USER, "Software\\LoadwingTests\\NoSuchKey");
  EXPECT_FALSE(map.Open());
  Buffers b;
  EXPECT_FALSE(map.EnumValue(0, b.name, b.type, b.data));
  EXPECT_STREQ(b.data, "");
}

TEST(RegistrySerialPortMap, FeedsDiscoveryInPortOrder) {
  TestKey key("discovery");
  ASSERT_TRUE(key.SetString("\\Device\\Serial5", "COM5"));
  ASSERT_TRUE(key.SetString("\\Device\\Serial1", "COM1"));
  ASSERT_TRUE(key.SetString("Bare", "COM12"));
  RegistrySerialPortMap map(HKEY_CURRENT_USER, key.path());
  EXPECT_EQ(DiscoverSerialPorts(map),
            (std::vector<std::string>{"COM1  (Serial1)", "COM5  (Serial5)", "COM12  (Bare)"}));
}

// Status of each of the eight calls, in table order, with out-values poisoned first.
std::vector<FtStatus> CallAll(D2xx& d2xx, FtHandle handle) {
  std::vector<FtStatus> results;
  std::uint32_t count = 77;
  results.push_back(d2xx.ListDevices(&count, nullptr, kFtListNumberOnly));
  FtHandle opened = reinterpret_cast<FtHandle>(0x1234);
  results.push_back(d2xx.Open(0, &opened));
  EXPECT_EQ(opened, nullptr);
  std::uint8_t buffer[8] = {};
  std::uint32_t n = 77;
  results.push_back(d2xx.Read(handle, buffer, sizeof buffer, &n));
  EXPECT_EQ(n, 0u);
  n = 77;
  results.push_back(d2xx.Write(handle, buffer, sizeof buffer, &n));
  EXPECT_EQ(n, 0u);
  results.push_back(d2xx.SetBaudRate(handle, 38400));
  results.push_back(d2xx.SetDataCharacteristics(handle, 8, 0, 0));
  n = 77;
  results.push_back(d2xx.GetQueueStatus(handle, &n));
  EXPECT_EQ(n, 0u);
  results.push_back(d2xx.Close(handle));
  return results;
}

void ExpectAllFail(const std::vector<FtStatus>& results) {
  ASSERT_EQ(results.size(), 8u);
  for (std::size_t i = 0; i < results.size(); ++i) EXPECT_NE(results[i], kFtOk) << "call " << i;
}

TEST(Ftd2xxLibrary, WithoutTheDllEveryCallFails) {
  Ftd2xxLibrary library("loadwing_no_such_driver.dll");
  EXPECT_FALSE(library.Loaded());
  ExpectAllFail(CallAll(library, reinterpret_cast<FtHandle>(0x10)));
  UsbLink::ResetListedForTesting();
  UsbLink cable(library);
  EXPECT_EQ(cable.FindByDescription(kUsbCableDescription), -1);
  EXPECT_FALSE(cable.OpenByDescription(kUsbCableDescription, 38400, 0, 0, 8));
  std::uint8_t byte = 0;
  EXPECT_EQ(cable.Read(&byte, 1), 0u);
}

TEST(Ftd2xxLibrary, ALibraryLackingAnOrdinalIsNotUsed) {
  // Loadable and exporting seven of the eight: bound as a whole or not at all.
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string partial(path);
  partial = partial.substr(0, partial.find_last_of('\\') + 1) + "ftd2xx_partial.dll";
  ASSERT_NE(::GetFileAttributesA(partial.c_str()), INVALID_FILE_ATTRIBUTES) << partial;
  Ftd2xxLibrary library("ftd2xx_partial.dll");
  EXPECT_FALSE(library.Loaded());
  ExpectAllFail(CallAll(library, reinterpret_cast<FtHandle>(0x10)));
}

// Builds of the stand-in that differ only in how they export the eight functions. Each function
// is told apart by making only it fail: the call the library makes in its place must fail.
TEST(Ftd2xxLibrary, BindsByNameAndFallsBackToTheOrdinal) {
  const struct {
    const char* dll;
    bool loaded;
  } cases[] = {
      {"ftd2xx_names.dll", true},     // names at other ordinals
      {"ftd2xx_ordinals.dll", true},  // ordinals without names
      {"ftd2xx_swapped.dll", true},   // each ordinal holds another function: the name wins
      {"ftd2xx_neither.dll", false},  // other names, other ordinals
  };
  // In the order CallAll makes the calls.
  const char* const functions[] = {"FT_ListDevices",    "FT_Open",
                                   "FT_Read",           "FT_Write",
                                   "FT_SetBaudRate",    "FT_SetDataCharacteristics",
                                   "FT_GetQueueStatus", "FT_Close"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dll);
    Ftd2xxLibrary library(c.dll);
    ASSERT_EQ(library.Loaded(), c.loaded);
    if (!c.loaded) {
      ExpectAllFail(CallAll(library, reinterpret_cast<FtHandle>(0x10)));
      continue;
    }
    for (std::size_t i = 0; i < std::size(functions); ++i) {
      ::SetEnvironmentVariableA("LOADWING_STANDIN_FAIL", functions[i]);
      const std::vector<FtStatus> results = CallAll(library, reinterpret_cast<FtHandle>(0x10));
      ASSERT_EQ(results.size(), std::size(functions));
      for (std::size_t j = 0; j < results.size(); ++j) {
        EXPECT_EQ(results[j] == kFtOtherError, i == j)
            << functions[i] << " made to fail, call " << j;
      }
    }
    ::SetEnvironmentVariableA("LOADWING_STANDIN_FAIL", nullptr);
  }
}

class StandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    ::SetEnvironmentVariableA("LOADWING_STANDIN_PORT", nullptr);
    UsbLink::ResetListedForTesting();
  }
  void TearDown() override {
    ::SetEnvironmentVariableA("LOADWING_STANDIN_DESCRIPTIONS", nullptr);
    UsbLink::ResetListedForTesting();
  }
  Ftd2xxLibrary library_;
};

TEST_F(StandIn, IsBoundFromTheProgramDirectory) {
  ASSERT_TRUE(library_.Loaded());
  std::uint32_t count = 0;
  ASSERT_EQ(library_.ListDevices(&count, nullptr, kFtListNumberOnly), kFtOk);
  EXPECT_EQ(count, 1u);
  UsbLink cable(library_);
  EXPECT_EQ(cable.FindByDescription(kUsbCableDescription), 0);
}

TEST_F(StandIn, FindsTheFirstExactDescription) {
  ::SetEnvironmentVariableA("LOADWING_STANDIN_DESCRIPTIONS",
                            "usb <-> orv serial device|USB <-> ORV serial Device|"
                            "USB <-> ORV serial Device");
  UsbLink cable(library_);
  EXPECT_EQ(cable.FindByDescription(kUsbCableDescription), 1);
  ::SetEnvironmentVariableA("LOADWING_STANDIN_DESCRIPTIONS", "USB <-> ORV serial Device ");
  EXPECT_EQ(cable.FindByDescription(kUsbCableDescription), -1);
  ::SetEnvironmentVariableA("LOADWING_STANDIN_DESCRIPTIONS", "");
  EXPECT_EQ(cable.FindByDescription(kUsbCableDescription), -1);
  EXPECT_TRUE(cable.EnsureListed());
}

TEST_F(StandIn, OpenWithoutAPortFailsAndLeavesNothingOpen) {
  UsbLink cable(library_);
  EXPECT_FALSE(cable.OpenByDescription(kUsbCableDescription, 38400, 0, 0, 8));
  EXPECT_FALSE(cable.isOpen());
  FtHandle handle = nullptr;
  EXPECT_EQ(library_.Open(3, &handle), kFtDeviceNotFound);
}

}  // namespace
}  // namespace loadwing
