#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_dialog_fixture.h"

namespace loadwing::testing::main_dialog_tests {
namespace {

bool Contains(const std::vector<std::string>& calls, const std::string& call) {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

// --- FindConnectionEntry.

struct FindCase {
  const char* name;
  std::vector<std::string> entries;
  ConnectionId id;
  int expected;
  // Failures name the case rather than dump its bytes.
  friend void PrintTo(const FindCase& c, std::ostream* os) { *os << c.name; }
};

class FindConnectionEntryTest : public MainDialogTest,
                                public ::testing::WithParamInterface<FindCase> {};

TEST_P(FindConnectionEntryTest, FindsTheEntryThatNamesTheLink) {
  const FindCase& c = GetParam();
  Start();
  window->entries = c.entries;
  EXPECT_EQ(dialog->FindConnectionEntry(c.id), c.expected);
}

const std::vector<std::string> kMixedList = {"COM1  (Serial0)", "COM7", "COM12  (Serial11)",
                                             "ORV USB cable"};

INSTANTIATE_TEST_SUITE_P(
    MainDialog, FindConnectionEntryTest,
    ::testing::Values(
        FindCase{"PortWithDeviceName", kMixedList, 0x101, 0},
        FindCase{"ShortEntry", kMixedList, 0x107, 1},
        FindCase{"TwoDigitPort", kMixedList, 0x10C, 2}, FindCase{"Cable", kMixedList, 0x200, 3},
        FindCase{"PortNotListed", kMixedList, 0x103, -1},
        // Port 7's entry names 0x107 only, not 0x170 nor 0x147.
        FindCase{"Port7Not0x170", {"COM7"}, 0x170, -1},
        FindCase{"Port7Not70", {"COM7"}, SerialConnection(70), -1},
        FindCase{"Port70", {"COM7", "COM70"}, SerialConnection(70), 1},
        // Only two digits after "COM" count.
        FindCase{"ThirdDigitIgnored", {"COM123"}, SerialConnection(12), 0},
        FindCase{"FirstMatchWins", {"COM3  (a)", "COM3  (b)"}, 0x103, 0},
        FindCase{"TooShortOrNotCom", {"COM", "CO", "com3", "XCOM3", "COM3"}, 0x103, 4},
        FindCase{"CableIgnoringCase", {"COM1", "orv usb CABLE"}, 0x200, 1},
        FindCase{"CableWholeTextOnly", {"ORV USB cable 2", "ORV USB"}, 0x200, -1},
        FindCase{"NoLink", kMixedList, kNoConnection, -1},
        FindCase{"KindOutOfRange", kMixedList, 0x301, -1},
        FindCase{"NegativeId", kMixedList, -0xFF, -1}, FindCase{"EmptyList", {}, 0x101, -1}),
    [](const ::testing::TestParamInfo<FindCase>& param) { return param.param.name; });

// --- ConnectSelected and the serial transport.

TEST_F(MainDialogTest, ChoosingASerialEntryOpensItsPort) {
  SetPorts({3});
  Start();
  Choose("COM3");
  EXPECT_EQ(serial.openedPath, "\\\\.\\COM3");
  EXPECT_EQ(serial.calls, (std::vector<std::string>{"Open \\\\.\\COM3", "SetCommState",
                                                    "SetCommTimeouts", "SetupComm 2048 2048"}));
  EXPECT_TRUE(serial.open);
  EXPECT_EQ(dialog->connectionId, 0x103);
  EXPECT_EQ(window->Status(), " COM3 connected");
  EXPECT_EQ(window->connectIcon, 133);
  // The caller's Disconnect comes first, then the fields are read back before the open.
  const auto history = window->StatusHistory();
  ASSERT_GE(history.size(), 2u);
  EXPECT_EQ(history[history.size() - 2], " Port closed");
}

TEST_F(MainDialogTest, TwoDigitPortEntryOpensItsPort) {
  SetPorts({1, 12});
  Start();
  Choose("COM12");
  EXPECT_EQ(serial.openedPath, "\\\\.\\COM12");
  EXPECT_EQ(dialog->connectionId, 0x10C);
  EXPECT_EQ(window->Status(), " COM12 connected");
  Choose("COM1 ");  // "COM1  (Serial0)": its fifth character is a blank
  EXPECT_EQ(serial.openedPath, "\\\\.\\COM1");
  EXPECT_EQ(dialog->connectionId, 0x101);
}

struct SerialFailureCase {
  const char* name;
  bool FakeSerialPort::*failure;
  std::string status;
  // Failures name the case rather than dump its bytes.
  friend void PrintTo(const SerialFailureCase& c, std::ostream* os) { *os << c.name; }
};

class SerialFailureTest : public MainDialogTest,
                          public ::testing::WithParamInterface<SerialFailureCase> {};

TEST_P(SerialFailureTest, FailedOpenLeavesNoLink) {
  const SerialFailureCase& c = GetParam();
  SetPorts({3});
  Start();
  serial.*(c.failure) = true;
  Choose("COM3");
  EXPECT_EQ(window->Status(), c.status);
  EXPECT_EQ(dialog->connectionId, kNoConnection);
  EXPECT_EQ(window->connectIcon, 134);
  EXPECT_FALSE(serial.open);
  // The port can be opened again at once.
  serial.*(c.failure) = false;
  Choose("COM3");
  EXPECT_EQ(window->Status(), " COM3 connected");
  EXPECT_EQ(dialog->connectionId, 0x103);
}

INSTANTIATE_TEST_SUITE_P(
    MainDialog, SerialFailureTest,
    ::testing::Values(
        SerialFailureCase{"Open", &FakeSerialPort::failOpen, " COM: invalid handle"},
        SerialFailureCase{"CommState", &FakeSerialPort::failCommState, " COM: commstate error"},
        SerialFailureCase{"Timeouts", &FakeSerialPort::failTimeouts, " COM: set timeout error"},
        SerialFailureCase{"SetupComm", &FakeSerialPort::failSetupComm, " COM: setupcomm error"}),
    [](const ::testing::TestParamInfo<SerialFailureCase>& param) { return param.param.name; });

TEST_F(MainDialogTest, ChoosingTheOpenLinksEntryClosesAndReopensIt) {
  SetPorts({3});
  Start();
  Choose("COM3");
  serial.calls.clear();
  const std::size_t shownBefore = window->StatusHistory().size();
  Choose("COM3");
  EXPECT_EQ(serial.calls.front(), "Close");
  EXPECT_EQ(serial.calls[1], "Open \\\\.\\COM3");
  const auto history = window->StatusHistory();
  const std::vector<std::string> sinceThen(history.begin() + shownBefore, history.end());
  EXPECT_TRUE(Contains(sinceThen, " Port closed"));
  EXPECT_EQ(sinceThen.back(), " COM3 connected");
  EXPECT_EQ(dialog->connectionId, 0x103);
}

TEST_F(MainDialogTest, SwitchingFromTheCableToAPortClosesTheCable) {
  SetPorts({3});
  AttachCable();
  Start();
  Choose("ORV USB cable");
  ASSERT_EQ(dialog->connectionId, kUsbConnection);
  Choose("COM3");
  EXPECT_FALSE(d2xx.devices[0].open);
  EXPECT_FALSE(dialog->usbCable.isOpen());
  EXPECT_EQ(dialog->connectionId, 0x103);
}

// Entries the discovery never makes, and no entry at all: nothing is read beyond the text and
// nothing is opened.
struct UnopenableCase {
  const char* name;
  std::vector<std::string> entries;
  int selection;
  // Failures name the case rather than dump its bytes.
  friend void PrintTo(const UnopenableCase& c, std::ostream* os) { *os << c.name; }
};

class UnopenableEntryTest : public MainDialogTest,
                            public ::testing::WithParamInterface<UnopenableCase> {};

TEST_P(UnopenableEntryTest, ReportsAFailedOpen) {
  const UnopenableCase& c = GetParam();
  AttachCable();
  Start();
  window->entries = c.entries;
  window->selection = c.selection;
  d2xx.ClearCalls();
  dialog->ConnectSelected();
  EXPECT_EQ(window->Status(), " COM: invalid handle");
  EXPECT_EQ(dialog->connectionId, kNoConnection);
  EXPECT_EQ(window->connectIcon, 134);
  EXPECT_TRUE(serial.calls.empty());
  EXPECT_FALSE(Contains(d2xx.calls, "Open 0")) << "the cable must not be opened instead";
}

INSTANTIATE_TEST_SUITE_P(
    MainDialog, UnopenableEntryTest,
    ::testing::Values(UnopenableCase{"NoSelectionNoCableEntry", {"COM1", "COM2"}, -1},
                      UnopenableCase{"NoSelectionWithCableEntry", {"COM1", "ORV USB cable"}, -1},
                      UnopenableCase{"ThreeCharacters", {"COM"}, 0},
                      UnopenableCase{"Empty", {""}, 0}, UnopenableCase{"NoDigit", {"COM-"}, 0}),
    [](const ::testing::TestParamInfo<UnopenableCase>& param) { return param.param.name; });

TEST_F(MainDialogTest, PortNinetyNineIsTheHighestThatOpens) {
  SetPorts({99});
  Start();
  Choose("COM99");
  EXPECT_EQ(serial.openedPath, "\\\\.\\COM99");
  EXPECT_EQ(dialog->connectionId, SerialConnection(99));
  EXPECT_EQ(window->Status(), " COM99 connected");
  // ":" after "COM" reads as digit ten: port 100, past the last one.
  window->entries.push_back("COM:0");
  Choose("COM:0");
  EXPECT_EQ(window->Status(), " COM: invalid handle");
  EXPECT_EQ(dialog->connectionId, kNoConnection);
  EXPECT_EQ(serial.openedPath, "\\\\.\\COM99") << "no other port was opened";
}

TEST_F(MainDialogTest, FourCharacterEntryOpensItsOneDigitPort) {
  Start();  // the fallback list: "COM1" .. "COM9"
  Choose("COM7");
  EXPECT_EQ(serial.openedPath, "\\\\.\\COM7");
  EXPECT_EQ(window->Status(), " COM7 connected");
}

// --- The USB cable.

TEST_F(MainDialogTest, ChoosingTheCableEntryOpensTheCable) {
  AttachCable();
  Start();
  EXPECT_EQ(window->entries.back(), "ORV USB cable");
  d2xx.ClearCalls();
  Choose("ORV USB cable");
  EXPECT_TRUE(Contains(d2xx.calls, "Open 0"));
  EXPECT_TRUE(Contains(d2xx.calls, "SetBaudRate 38400"));
  EXPECT_TRUE(Contains(d2xx.calls, "SetDataCharacteristics 8 0 0"));
  EXPECT_TRUE(d2xx.devices[0].open);
  EXPECT_EQ(dialog->connectionId, kUsbConnection);
  EXPECT_EQ(window->Status(), " USB: connected");
  EXPECT_EQ(window->connectIcon, 133);
  EXPECT_TRUE(serial.calls.empty());
}

struct UsbFailureCase {
  const char* name;
  FtStatus FakeD2xx::*status;
  // Failures name the case rather than dump its bytes.
  friend void PrintTo(const UsbFailureCase& c, std::ostream* os) { *os << c.name; }
};

class UsbFailureTest : public MainDialogTest,
                       public ::testing::WithParamInterface<UsbFailureCase> {};

TEST_P(UsbFailureTest, FailedOpenClosesTheCableAndLeavesNoLink) {
  AttachCable();
  Start();
  d2xx.*(GetParam().status) = kFtOtherError;
  Choose("ORV USB cable");
  EXPECT_EQ(window->Status(), " USB: connect error");
  EXPECT_EQ(dialog->connectionId, kNoConnection);
  EXPECT_EQ(window->connectIcon, 134);
  EXPECT_FALSE(d2xx.devices[0].open);
  EXPECT_FALSE(dialog->usbCable.isOpen());
}

INSTANTIATE_TEST_SUITE_P(
    MainDialog, UsbFailureTest,
    ::testing::Values(UsbFailureCase{"Listing", &FakeD2xx::listStatus},
                      UsbFailureCase{"Open", &FakeD2xx::openStatus},
                      UsbFailureCase{"BaudRate", &FakeD2xx::baudStatus},
                      UsbFailureCase{"DataCharacteristics", &FakeD2xx::dataStatus}),
    [](const ::testing::TestParamInfo<UsbFailureCase>& param) { return param.param.name; });

TEST_F(MainDialogTest, CableUnpluggedBeforeChoosingGivesConnectError) {
  AttachCable();
  Start();
  const int cableEntry = IndexOf("ORV USB cable");
  DetachCable();
  window->selection = cableEntry;
  dialog->ConnectSelected();
  EXPECT_EQ(window->Status(), " USB: connect error");
  EXPECT_EQ(dialog->connectionId, kNoConnection);
}

// --- ToggleConnection.

TEST_F(MainDialogTest, ToggleConnectsTheSelectedEntryWhenNothingIsOpen) {
  SetPorts({2, 4});
  Start();
  window->selection = 1;
  dialog->ToggleConnection();
  EXPECT_EQ(serial.openedPath, "\\\\.\\COM4");
  EXPECT_EQ(dialog->connectionId, 0x104);
  EXPECT_EQ(window->connectIcon, 133);
}

TEST_F(MainDialogTest, ToggleClosesAnOpenLinkWithoutOpeningAnother) {
  SetPorts({2, 4});
  AttachCable();
  for (const std::string entry : {"COM4", "ORV USB cable"}) {
    SCOPED_TRACE(entry);
    Start();
    Choose(entry);
    ASSERT_NE(dialog->connectionId, kNoConnection);
    serial.calls.clear();
    d2xx.ClearCalls();
    dialog->ToggleConnection();
    EXPECT_EQ(dialog->connectionId, kNoConnection);
    EXPECT_EQ(window->Status(), " Port closed");
    EXPECT_EQ(window->connectIcon, 134);
    EXPECT_FALSE(serial.open);
    EXPECT_FALSE(d2xx.devices[0].open);
    EXPECT_FALSE(Contains(serial.calls, "Open \\\\.\\COM4"));
    EXPECT_FALSE(Contains(d2xx.calls, "Open 0"));
  }
}

TEST_F(MainDialogTest, DisconnectWithNothingOpenStillReports) {
  Start();
  window->connectIcon = 0;
  dialog->Disconnect();
  EXPECT_EQ(window->Status(), " Port closed");
  EXPECT_EQ(window->connectIcon, 134);
  EXPECT_TRUE(serial.calls.empty());
}

// --- RefreshConnectionList.

TEST_F(MainDialogTest, DeviceChangeKeepsAnOpenPortAtItsNewIndex) {
  SetPorts({3, 5});
  Start();
  Choose("COM3");
  ASSERT_EQ(window->selection, 0);
  SetPorts({1, 3, 5});
  serial.calls.clear();
  dialog->OnDeviceChange();
  EXPECT_EQ(window->entries,
            (std::vector<std::string>{"COM1  (Serial0)", "COM3  (Serial2)", "COM5  (Serial4)"}));
  EXPECT_EQ(window->selection, 1);
  EXPECT_EQ(dialog->connectionId, 0x103);
  EXPECT_TRUE(serial.open);
  EXPECT_TRUE(serial.calls.empty()) << "the open link stays untouched";
  EXPECT_EQ(window->Status(), " COM3 connected");
  EXPECT_EQ(window->connectIcon, 133);
}

TEST_F(MainDialogTest, DeviceChangeKeepsTheOpenCable) {
  SetPorts({3});
  AttachCable();
  Start();
  Choose("ORV USB cable");
  SetPorts({3, 4});
  dialog->OnDeviceChange();
  EXPECT_EQ(window->selection, 2);
  EXPECT_EQ(dialog->connectionId, kUsbConnection);
  EXPECT_TRUE(d2xx.devices[0].open);
}

TEST_F(MainDialogTest, UnpluggedCableIsClosedAndTheFirstEntrySelected) {
  SetPorts({3});
  AttachCable();
  Start();
  Choose("ORV USB cable");
  ASSERT_EQ(dialog->connectionId, kUsbConnection);
  d2xx.devices[0].description = "something else";  // the cable is gone from the listing
  dialog->OnDeviceChange();
  EXPECT_EQ(window->entries, std::vector<std::string>{"COM3  (Serial2)"});
  EXPECT_EQ(window->Status(), " Port closed");
  EXPECT_EQ(window->selection, 0);
  EXPECT_EQ(dialog->connectionId, kNoConnection);
  EXPECT_EQ(window->connectIcon, 134);
  EXPECT_FALSE(dialog->usbCable.isOpen());
}

TEST_F(MainDialogTest, RemovedPortIsClosed) {
  SetPorts({3, 5});
  Start();
  Choose("COM5");
  SetPorts({3});
  dialog->OnDeviceChange();
  EXPECT_FALSE(serial.open);
  EXPECT_EQ(dialog->connectionId, kNoConnection);
  EXPECT_EQ(window->Status(), " Port closed");
  EXPECT_EQ(window->selection, 0);
}

TEST_F(MainDialogTest, DeviceChangeWhileDisconnectedSelectsTheFirstEntry) {
  SetPorts({3, 5});
  Start();
  window->selection = 1;
  dialog->OnDeviceChange();
  EXPECT_EQ(window->Status(), " Port closed");
  EXPECT_EQ(window->selection, 0);
  EXPECT_EQ(window->entries.size(), 2u) << "the old entries are all deleted first";
  EXPECT_TRUE(serial.calls.empty());
}

TEST_F(MainDialogTest, DeviceChangeBeforeTheTickLetsTheTickUseTheNewList) {
  SetPorts({3});
  settings.values[kComSettingName] = 0x105;
  Start();
  SetPorts({3, 5});
  dialog->OnDeviceChange();
  Tick();
  EXPECT_EQ(window->Status(), " COM5 connected");
  EXPECT_EQ(window->selection, 1);
}

}  // namespace
}  // namespace loadwing::testing::main_dialog_tests
