// A fault at every step of connecting and of loading a firmware file. Each step is made to fail
// in turn; the operation must stop there with that step's text, call nothing after it, and leave
// nothing open: no port or cable, connection id 0, no file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_ids.h"
#include "app/main_dialog_fixture.h"
#include "fakes/fake_firmware_files.h"
#include "firmware/firmware_loader.h"
#include "link/link_connect.h"

namespace loadwing::testing::main_dialog_tests {
namespace {

// --- Connecting.

// The configuration steps of a serial connect, in order, as the fake port records them.
const std::vector<std::string> kSerialSteps = {"Open \\\\.\\COM4", "SetCommState",
                                               "SetCommTimeouts", "SetupComm 2048 2048"};
const std::vector<std::string> kSerialFailureTexts = {"COM: invalid handle", "COM: commstate error",
                                                      "COM: set timeout error",
                                                      "COM: setupcomm error"};

void FailSerialStep(FakeSerialPort& port, std::size_t step) {
  port.failOpen = step == 0;
  port.failCommState = step == 1;
  port.failTimeouts = step == 2;
  port.failSetupComm = step == 3;
}

// The calls a connect that fails at step makes: the steps up to it, then a close when the port
// had been opened.
std::vector<std::string> CallsUpTo(std::size_t step) {
  std::vector<std::string> calls(kSerialSteps.begin(), kSerialSteps.begin() + step + 1);
  if (step > 0) calls.push_back("Close");
  return calls;
}

TEST(FaultConnectSerialPortTest, EachFailingStepClosesThePortAgain) {
  for (std::size_t step = 0; step < kSerialSteps.size(); ++step) {
    SCOPED_TRACE(kSerialSteps[step]);
    FakeSerialPort port;
    FailSerialStep(port, step);
    const LinkError error = ConnectSerialPort(port, SerialDevicePath(4));
    EXPECT_EQ(LinkErrorText(error), kSerialFailureTexts[step]);
    EXPECT_EQ(port.calls, CallsUpTo(step));
    EXPECT_FALSE(port.IsOpen());
  }
}

class FaultConnectTest : public MainDialogTest {};

TEST_F(FaultConnectTest, EachFailingSerialStepLeavesNoLink) {
  for (bool connectedBefore : {false, true}) {
    for (std::size_t step = 0; step < kSerialSteps.size(); ++step) {
      SCOPED_TRACE(kSerialSteps[step] + (connectedBefore ? " after COM3" : " from no link"));
      serial = FakeSerialPort(&clock);
      SetPorts({3, 4});
      MainDialog& d = Start();
      if (connectedBefore) {
        Choose("COM3");
        ASSERT_EQ(d.connectionId, SerialConnection(3));
      }
      serial.calls.clear();
      FailSerialStep(serial, step);
      const std::size_t shownBefore = window->StatusHistory().size();

      Choose("COM4");

      EXPECT_EQ(d.statusText, " " + kSerialFailureTexts[step]);
      EXPECT_EQ(d.connectionId, kNoConnection);
      EXPECT_FALSE(serial.IsOpen());
      std::vector<std::string> calls = CallsUpTo(step);
      // The link that was open is closed first ("Port closed").
      if (connectedBefore) calls.insert(calls.begin(), "Close");
      EXPECT_EQ(serial.calls, calls);
      const std::vector<std::string> history = window->StatusHistory();
      const std::vector<std::string> shown(
          history.begin() + static_cast<std::ptrdiff_t>(shownBefore), history.end());
      EXPECT_EQ(shown, (std::vector<std::string>{" Port closed", d.statusText}));
      EXPECT_EQ(window->connectIcon, IDI_DISCONNECTED);

      // Once the fault is gone the same port opens at once: nothing was left holding it.
      FailSerialStep(serial, kSerialSteps.size());
      Choose("COM4");
      EXPECT_EQ(d.connectionId, SerialConnection(4));
      EXPECT_TRUE(serial.IsOpen());
      CloseDialog();
    }
  }
}

struct UsbStepCase {
  const char* name;
  FtStatus FakeD2xx::*status;
  std::vector<std::string> calls;  // the cable's calls from the open on
};

TEST_F(FaultConnectTest, EachFailingCableStepLeavesNoLink) {
  const UsbStepCase cases[] = {
      {"open", &FakeD2xx::openStatus, {"Open 0"}},
      {"baud rate", &FakeD2xx::baudStatus, {"Open 0", "SetBaudRate 38400", "Close"}},
      {"data characteristics",
       &FakeD2xx::dataStatus,
       {"Open 0", "SetBaudRate 38400", "SetDataCharacteristics 8 0 0", "Close"}},
  };
  for (const UsbStepCase& c : cases) {
    SCOPED_TRACE(c.name);
    d2xx = FakeD2xx(&clock);
    UsbLink::ResetListedForTesting();
    AttachCable();
    SetPorts({3});
    MainDialog& d = Start();
    d2xx.*c.status = kFtOtherError;
    d2xx.ClearCalls();

    Choose(kUsbCableEntry);

    EXPECT_EQ(d.statusText, " USB: connect error");
    EXPECT_EQ(d.connectionId, kNoConnection);
    EXPECT_FALSE(d.usbCable.isOpen());
    EXPECT_FALSE(d2xx.devices.front().open);
    std::vector<std::string> opened;
    for (const std::string& call : d2xx.calls) {
      if (call.rfind("ListDevices", 0) != 0) opened.push_back(call);
    }
    EXPECT_EQ(opened, c.calls);
    CloseDialog();
  }
}

// --- Loading.

const std::string kMod4File = MotFile("Mod4 firmware of the fourth module");

struct LoadStepCase {
  int step;  // 0 open, 1 size, 2 read
  std::function<void(FakeFirmwareFileSystem&)> arrange;
  const char* statusText;
};

TEST(FaultLoadTest, EachFailingFileStepEndsTheLoadWithTheFileClosed) {
  // The clean load takes three steps and loads module 4.
  FakeFirmwareFileSystem clean;
  clean.content = kMod4File;
  FirmwareImage cleanImage;
  const LoadOutcome loaded = LoadFirmwareFile("fw/mod4.mot", cleanImage, clean);
  ASSERT_EQ(loaded.statusText, " firmware for module 4 loaded");
  ASSERT_EQ(clean.steps, 3);
  EXPECT_EQ(clean.closes, 1);

  using Files = FakeFirmwareFileSystem;
  const LoadStepCase cases[] = {
      {0, [](Files& f) { f.failOpen = true; }, " load firmware: can't open file, error 1"},
      {1, [](Files& f) { f.failSize = true; }, " load firmware: can't open file, error 2"},
      {1, [](Files& f) { f.sizeHigh = 1; }, " load firmware: can't open file, error 2"},
      {1, [](Files& f) { f.sizeLow = kSRecordTextBufferSize + 1; },
       " load firmware: file is too big"},
      {2, [](Files& f) { f.failRead = true; }, " load firmware: can't open file, error 4"},
      {2, [](Files& f) { f.deliver = static_cast<std::uint32_t>(f.content.size() / 2); },
       " load firmware: can't open file, error 4"},
  };
  for (const LoadStepCase& c : cases) {
    SCOPED_TRACE("step " + std::to_string(c.step) + ": " + c.statusText);
    Files files;
    files.content = kMod4File;
    c.arrange(files);
    FirmwareImage image;
    image.data.fill(0x3C);
    image.target = FirmwareTarget::WebC;
    const LoadOutcome outcome = LoadFirmwareFile("fw/mod4.mot", image, files);
    EXPECT_EQ(outcome.statusText, c.statusText);
    EXPECT_EQ(outcome.target, FirmwareTarget::None);
    EXPECT_EQ(image.target, FirmwareTarget::None);
    // The load stopped at the failing step, and the image was not touched before decoding.
    EXPECT_EQ(files.steps, c.step + 1);
    EXPECT_TRUE(std::all_of(image.data.begin(), image.data.end(),
                            [](std::uint8_t b) { return b == 0x3C; }));
    EXPECT_EQ(files.closes, files.opens);
  }
}

// Intel HEX files are read the same one way; a read that fails ends their text, as it did when
// they were read as a stream.
TEST(FaultLoadTest, EachFailingHexStepEndsTheLoadWithTheFileClosed) {
  const std::string hex = ":03001000010203E7\r\n:00000001FF\r\n";
  using Files = FakeFirmwareFileSystem;
  const LoadStepCase cases[] = {
      {0, [](Files& f) { f.failOpen = true; }, " load firmware: can't open file, error 1"},
      {1, [](Files& f) { f.failSize = true; }, " load firmware: can't open file, error 2"},
      {1, [](Files& f) { f.sizeLow = kIntelHexFileLimit + 1; }, " load firmware: file is too big"},
      {2, [](Files& f) { f.failRead = true; }, " load firmware: unexpected end of file"},
      {2, [](Files& f) { f.deliver = 10; }, " load firmware: unexpected end of file"},
      {2, [](Files&) {}, " firmware for Fanfolder/Crossfolder loaded"},
  };
  for (const LoadStepCase& c : cases) {
    SCOPED_TRACE(c.statusText);
    Files files;
    files.content = hex;
    c.arrange(files);
    FirmwareImage image;
    image.target = FirmwareTarget::WebC;
    EXPECT_EQ(LoadFirmwareFile("fw/main.hex", image, files).statusText, c.statusText);
    EXPECT_EQ(files.steps, c.step + 1);
    EXPECT_EQ(files.closes, files.opens);
  }
}

}  // namespace
}  // namespace loadwing::testing::main_dialog_tests
