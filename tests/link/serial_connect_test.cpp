#include <gtest/gtest.h>

#include <algorithm>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/fake_d2xx.h"
#include "fakes/fake_serial_port.h"
#include "link/connection.h"
#include "link/link_connect.h"

namespace loadwing {
namespace {

using testing::FakeSerialPort;
using Calls = std::vector<std::string>;

const std::string kPath = "\\\\.\\COM3";

struct ConnectCase {
  const char* what;
  bool FakeSerialPort::*fail;  // nullptr: nothing fails
  LinkError result;
  Calls calls;
};

void PrintTo(const ConnectCase& c, std::ostream* os) {
  *os << c.what;
}

class ConnectSerialPortTest : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(ConnectSerialPortTest, StepsInOrderAndClosesOnFailure) {
  const ConnectCase& c = GetParam();
  FakeSerialPort port;
  if (c.fail) port.*(c.fail) = true;
  EXPECT_EQ(ConnectSerialPort(port, kPath), c.result);
  EXPECT_EQ(port.calls, c.calls);
  EXPECT_EQ(port.IsOpen(), c.result == LinkError::None);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ConnectSerialPortTest,
    ::testing::Values(
        ConnectCase{"success",
                    nullptr,
                    LinkError::None,
                    {"Open " + kPath, "SetCommState", "SetCommTimeouts", "SetupComm 2048 2048"}},
        ConnectCase{"open", &FakeSerialPort::failOpen, LinkError::InvalidHandle, {"Open " + kPath}},
        ConnectCase{"commstate",
                    &FakeSerialPort::failCommState,
                    LinkError::CommState,
                    {"Open " + kPath, "SetCommState", "Close"}},
        ConnectCase{"timeouts",
                    &FakeSerialPort::failTimeouts,
                    LinkError::SetTimeout,
                    {"Open " + kPath, "SetCommState", "SetCommTimeouts", "Close"}},
        ConnectCase{
            "setupcomm",
            &FakeSerialPort::failSetupComm,
            LinkError::SetupComm,
            {"Open " + kPath, "SetCommState", "SetCommTimeouts", "SetupComm 2048 2048", "Close"}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(ConnectSerialPortSettingsTest, LineSettingsAndTimeLimitsOfTheLink) {
  FakeSerialPort port;
  ASSERT_EQ(ConnectSerialPort(port, kPath), LinkError::None);
  EXPECT_EQ(port.openedPath, kPath);
  EXPECT_EQ(port.lineSettings.baudRate, 38400u);
  EXPECT_EQ(port.lineSettings.byteSize, 8);
  EXPECT_EQ(port.lineSettings.parity, 0);
  EXPECT_EQ(port.lineSettings.stopBits, 0);
  EXPECT_EQ(port.timeouts.readIntervalTimeout, 500u);
  EXPECT_EQ(port.timeouts.readTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(port.timeouts.readTotalTimeoutConstant, 10u);
  EXPECT_EQ(port.timeouts.writeTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(port.timeouts.writeTotalTimeoutConstant, 10u);
}

TEST(ConnectSerialPortSettingsTest, FailedConfigurationCanBeRetriedAtOnce) {
  FakeSerialPort port;
  port.failTimeouts = true;
  ASSERT_EQ(ConnectSerialPort(port, kPath), LinkError::SetTimeout);
  port.failTimeouts = false;
  EXPECT_EQ(ConnectSerialPort(port, kPath), LinkError::None);
  EXPECT_TRUE(port.IsOpen());
}

TEST(ConnectUsbCableTest, OpensAtTheLineSettingsOrIsClosedAgain) {
  for (const bool refuseSettings : {false, true}) {
    SCOPED_TRACE(refuseSettings ? "settings refused" : "settings taken");
    testing::FakeD2xx d2xx;
    d2xx.devices.push_back({kUsbCableDescription, {}, {}, false});
    d2xx.dataStatus = refuseSettings ? kFtOtherError : kFtOk;
    UsbLink::ResetListedForTesting();
    UsbLink cable(d2xx);
    EXPECT_EQ(ConnectUsbCable(cable), refuseSettings ? LinkError::UsbConnect : LinkError::None);
    EXPECT_EQ(cable.isOpen(), !refuseSettings);
    EXPECT_EQ(d2xx.devices[0].open, !refuseSettings);
    const auto called = [&](const std::string& call) {
      return std::find(d2xx.calls.begin(), d2xx.calls.end(), call) != d2xx.calls.end();
    };
    EXPECT_TRUE(called("SetBaudRate 38400"));
    EXPECT_TRUE(called("SetDataCharacteristics 8 0 0"));
  }
}

struct EntryCase {
  std::string text;
  int port;
};

void PrintTo(const EntryCase& c, std::ostream* os) {
  *os << "\"" << c.text << "\"";
}

class PortNumberTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(PortNumberTest, FromTheFourthAndFifthCharacters) {
  EXPECT_EQ(PortNumberFromEntry(GetParam().text), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(Entries, PortNumberTest,
                         ::testing::Values(EntryCase{"COM12  (Serial0)", 12},
                                           EntryCase{"COM1  (Serial0)", 1}, EntryCase{"COM7", 7},
                                           EntryCase{"COM0", 0}, EntryCase{"COM99", 99},
                                           EntryCase{"COM123", 12}, EntryCase{"COM", -1},
                                           EntryCase{"", -1}),
                         [](const auto& p) { return std::to_string(p.index); });

TEST(SerialDevicePathTest, Win32DeviceNamespace) {
  EXPECT_EQ(SerialDevicePath(3), "\\\\.\\COM3");
  EXPECT_EQ(SerialDevicePath(12), "\\\\.\\COM12");
  EXPECT_EQ(SerialDevicePath(PortNumberFromEntry("COM12  (x)")), "\\\\.\\COM12");
}

}  // namespace
}  // namespace loadwing
