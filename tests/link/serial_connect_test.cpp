#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/fake_serial_port.h"
#include "link/connection.h"
#include "link/serial_connect.h"

namespace loadwing {
namespace {

using testing::FakeSerialPort;
using Calls = std::vector<std::string>;

const std::string kPath = "\\\\.\\COM3";

struct ConnectCase {
  const char* what;
  bool FakeSerialPort::*fail;  // nullptr: nothing fails
  std::optional<std::string> result;
  Calls calls;
};

void PrintTo(const ConnectCase& c, std::ostream* os) {
  *os << c.what;
}

class OpenConfiguredSerialTest : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(OpenConfiguredSerialTest, StepsInOrderAndClosesOnFailure) {
  const ConnectCase& c = GetParam();
  FakeSerialPort port;
  if (c.fail) port.*(c.fail) = true;
  EXPECT_EQ(OpenConfiguredSerial(port, kPath), c.result);
  EXPECT_EQ(port.calls, c.calls);
  EXPECT_EQ(port.IsOpen(), !c.result.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenConfiguredSerialTest,
    ::testing::Values(
        ConnectCase{"success",
                    nullptr,
                    std::nullopt,
                    {"Open " + kPath, "SetCommState", "SetCommTimeouts", "SetupComm 2048 2048"}},
        ConnectCase{"open", &FakeSerialPort::failOpen, "COM: invalid handle", {"Open " + kPath}},
        ConnectCase{"commstate",
                    &FakeSerialPort::failCommState,
                    "COM: commstate error",
                    {"Open " + kPath, "SetCommState", "Close"}},
        ConnectCase{"timeouts",
                    &FakeSerialPort::failTimeouts,
                    "COM: set timeout error",
                    {"Open " + kPath, "SetCommState", "SetCommTimeouts", "Close"}},
        ConnectCase{
            "setupcomm",
            &FakeSerialPort::failSetupComm,
            "COM: setupcomm error",
            {"Open " + kPath, "SetCommState", "SetCommTimeouts", "SetupComm 2048 2048", "Close"}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(OpenConfiguredSerialSettingsTest, LineSettingsAndTimeLimitsOfTheLink) {
  FakeSerialPort port;
  ASSERT_EQ(OpenConfiguredSerial(port, kPath), std::nullopt);
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

TEST(OpenConfiguredSerialSettingsTest, FailedConfigurationCanBeRetriedAtOnce) {
  FakeSerialPort port;
  port.failTimeouts = true;
  ASSERT_TRUE(OpenConfiguredSerial(port, kPath).has_value());
  port.failTimeouts = false;
  EXPECT_EQ(OpenConfiguredSerial(port, kPath), std::nullopt);
  EXPECT_TRUE(port.IsOpen());
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
