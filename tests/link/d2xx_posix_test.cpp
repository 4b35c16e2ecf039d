#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_serial_port.h"
#include "fakes/fake_status_view.h"
#include "fakes/ftdi_standin/ftdi_standin.h"
#include "flash/loopback_test.h"
#include "link/libftdi_d2xx.h"
#include "link/link_io.h"
#include "link/port_discovery.h"
#include "link/usb_link.h"

namespace loadwing {
namespace {

// These run against whatever USB bus the machine has (often none): they check that the
// listing holds together and that nothing crashes, not any particular device.

std::uint32_t CountDevices(LibFtdiD2xx& d2xx) {
  std::uint32_t count = 0xDEADu;
  EXPECT_EQ(d2xx.ListDevices(&count, nullptr, kFtListNumberOnly), kFtOk);
  return count;
}

TEST(LibFtdiD2xxTest, CountAndDescriptionListingAgree) {
  LibFtdiD2xx d2xx;
  const std::uint32_t count = CountDevices(d2xx);
  ASSERT_LE(count, 127u);
  std::vector<std::vector<char>> buffers(count, std::vector<char>(kFtDescriptionSize, 'x'));
  std::vector<char*> pointers;
  for (auto& b : buffers) pointers.push_back(b.data());
  pointers.push_back(nullptr);
  std::uint32_t listed = 0xDEADu;
  ASSERT_EQ(d2xx.ListDevices(pointers.data(), &listed, kFtListAll | kFtOpenByDescription), kFtOk);
  EXPECT_EQ(listed, count);
  for (const auto& b : buffers) EXPECT_EQ(b[kFtDescriptionSize - 1], '\0');
}

TEST(LibFtdiD2xxTest, WithoutTheLibrariesNothingIsListedOrOpened) {
  const LibFtdiD2xx::Libraries missing[] = {{"libloadwing-no-such-ftdi.so", "libusb-1.0.so.0"},
                                            {"libftdi1.so.2", "libloadwing-no-such-usb.so"}};
  for (const LibFtdiD2xx::Libraries& libraries : missing) {
    SCOPED_TRACE(std::string(libraries.ftdi) + " " + libraries.usb);
    LibFtdiD2xx d2xx(libraries);
    EXPECT_EQ(CountDevices(d2xx), 0u);
    char description[kFtDescriptionSize] = "x";
    char* buffers[] = {description, nullptr};
    std::uint32_t listed = 0xDEADu;
    EXPECT_EQ(d2xx.ListDevices(buffers, &listed, kFtListAll | kFtOpenByDescription), kFtOk);
    EXPECT_EQ(listed, 0u);
    FtHandle handle = nullptr;
    EXPECT_EQ(d2xx.Open(0, &handle), kFtDeviceNotFound);
    EXPECT_EQ(handle, nullptr);
    UsbLink::ResetListedForTesting();
    UsbLink cable(d2xx);
    EXPECT_FALSE(ProbeUsbCable(cable));
    EXPECT_FALSE(cable.OpenByDescription(kUsbCableDescription, 38400, 0, 0, 8));
    UsbLink::ResetListedForTesting();
  }
}

TEST(LibFtdiD2xxTest, UnknownListingRequestIsRefused) {
  LibFtdiD2xx d2xx;
  std::uint32_t count = 0;
  EXPECT_NE(d2xx.ListDevices(&count, nullptr, 0x40000000u), kFtOk);
}

TEST(LibFtdiD2xxTest, NoDeviceBeyondTheListing) {
  LibFtdiD2xx d2xx;
  const std::uint32_t count = CountDevices(d2xx);
  FtHandle handle = nullptr;
  EXPECT_NE(d2xx.Open(static_cast<int>(count), &handle), kFtOk);
  EXPECT_NE(d2xx.Open(-1, &handle), kFtOk);
}

TEST(LibFtdiD2xxTest, HandleNeverOpenedIsRefusedEverywhere) {
  LibFtdiD2xx d2xx;
  int notADevice = 0;
  FtHandle handle = &notADevice;
  std::uint8_t byte = 0;
  std::uint32_t n = 7;
  EXPECT_NE(d2xx.Close(handle), kFtOk);
  EXPECT_NE(d2xx.Read(handle, &byte, 1, &n), kFtOk);
  EXPECT_EQ(n, 0u);
  EXPECT_NE(d2xx.Write(handle, &byte, 1, &n), kFtOk);
  EXPECT_NE(d2xx.GetQueueStatus(handle, &n), kFtOk);
  EXPECT_EQ(n, 0u);
  EXPECT_NE(d2xx.SetBaudRate(handle, 38400), kFtOk);
  EXPECT_NE(d2xx.SetDataCharacteristics(handle, 8, 0, 0), kFtOk);
}

TEST(LibFtdiD2xxTest, WithoutTheCableTheLinkFindsNothing) {
  LibFtdiD2xx d2xx;
  UsbLink::ResetListedForTesting();
  UsbLink cable(d2xx);
  EXPECT_EQ(cable.FindByDescription("no device is described like this"), -1);
  if (CountDevices(d2xx) == 0) {
    EXPECT_FALSE(ProbeUsbCable(cable));
    EXPECT_FALSE(cable.OpenByDescription(kUsbCableDescription, 38400, 0, 0, 8));
    EXPECT_FALSE(cable.isOpen());
  }
  UsbLink::ResetListedForTesting();
}

// ---- against the stand-in chip (tests/fakes/ftdi_standin) ----

using testing::FakeClock;
using testing::FtdiStandin;

class StandinCableTest : public ::testing::Test {
 public:  // the stand-in's callbacks reach the fixture through a pointer
  void SetUp() override {
    ASSERT_TRUE(standin_.Load(LOADWING_FTDI_STANDIN)) << dlerror();
    standin_.reset();
    // The link's time limits read the same time the chip runs on.
    standin_.setClockHook(
        [](void* user, std::uint64_t nowUs) {
          auto* self = static_cast<StandinCableTest*>(user);
          self->clock_.AdvanceMicros(static_cast<std::int64_t>(nowUs) - self->mirroredUs_);
          self->mirroredUs_ = static_cast<std::int64_t>(nowUs);
        },
        this);
    device_ = standin_.addDevice(kUsbCableDescription, 1);
    UsbLink::ResetListedForTesting();
  }
  void TearDown() override {
    UsbLink::ResetListedForTesting();
    standin_.reset();
  }
  void Send(const std::string& text) {
    standin_.lineSend(device_, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }

  FtdiStandin standin_;
  FakeClock clock_;
  std::int64_t mirroredUs_ = 0;
  int device_ = 0;
  LibFtdiD2xx d2xx_{{LOADWING_FTDI_STANDIN, LOADWING_FTDI_STANDIN}};
};

TEST_F(StandinCableTest, DrainTakesEveryStaleByteAndTheAnswerComesThroughClean) {
  UsbLink cable(d2xx_);
  ASSERT_TRUE(cable.OpenByDescription(kUsbCableDescription, 38400, 0, 0, 8));
  EXPECT_EQ(standin_.kernelDriverBound(device_), 0);
  // 300 stale bytes, all in the chip before the drain (78 ms of line at 38400 baud).
  Send(std::string(300, 'x'));
  standin_.advanceUs(device_, 100'000);
  standin_.setFarEnd(
      [](void* user, int device, const std::uint8_t* bytes, std::size_t n) {
        if (std::string(reinterpret_cast<const char*>(bytes), n) == "MO3") {
          static_cast<StandinCableTest*>(user)->Send("MO3OK1");
        }
        (void)device;
      },
      this);

  testing::FakeSerialPort serial;
  testing::FakeStatusView view;
  const ConnectionId usb = kUsbConnection;
  LinkIo io(usb, serial, cable, view, clock_);
  const std::uint64_t readsBefore = standin_.usbReads(device_);
  const std::uint64_t before = standin_.nowUs();
  io.DrainInput();
  // Four full packets at once, the last 52 bytes when the chip's timer runs out, then one poll
  // that finds nothing: one latency period, not one per byte.
  EXPECT_LE(standin_.usbReads(device_) - readsBefore, 3u);
  EXPECT_LE(standin_.nowUs() - before, 18'000u);

  const std::uint8_t request[] = {'M', 'O', '3'};
  ASSERT_TRUE(io.WriteBytes(request, 3));
  std::uint8_t answer[6] = {};
  ASSERT_EQ(io.ReadBytes(answer, 6, 3, false), 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(answer), 6), "MO3OK1");

  // Closed, the device goes back to the kernel's serial driver: its tty returns.
  EXPECT_TRUE(cable.Close());
  EXPECT_EQ(standin_.kernelDriverBound(device_), 1);
}

TEST_F(StandinCableTest, SelftestThroughAnEchoingChipNamesItsLatencyTimer) {
  UsbLink cable(d2xx_);
  ASSERT_TRUE(cable.OpenByDescription(kUsbCableDescription, 38400, 0, 0, 8));
  standin_.setFarEnd(
      [](void* user, int device, const std::uint8_t* bytes, std::size_t n) {
        static_cast<StandinCableTest*>(user)->standin_.lineSend(device, bytes, n);
      },
      this);
  testing::FakeSerialPort serial;
  testing::FakeStatusView view;
  const ConnectionId usb = kUsbConnection;
  LinkIo io(usb, serial, cable, view, clock_);
  const LoopbackReport report = RunLoopbackTest(io, clock_);
  // Every pattern came back whole; a lone byte waits for the chip's 16 ms latency timer.
  EXPECT_EQ(report.verdict, LoopbackVerdict::SlowDelivery) << report.pattern;
  EXPECT_GT(report.latencyUs, 14'000);
  EXPECT_LT(report.latencyUs, 18'000);
  // The stand-in's far end answers a write once all of it has crossed the line, and sends it back
  // at the line's speed: twice the line time, not slower, never faster.
  EXPECT_FALSE(report.fasterThanLine);
  EXPECT_GT(report.bytesPerSecond, 3840 / 2 * 0.85);
  EXPECT_LE(report.bytesPerSecond, 3840 / 2);
}

TEST_F(StandinCableTest, BufferedBytesAreHandedOutWithoutAskingTheChip) {
  FtHandle handle = nullptr;
  ASSERT_EQ(d2xx_.Open(0, &handle), kFtOk);
  ASSERT_EQ(d2xx_.SetBaudRate(handle, 38400), kFtOk);
  // Every byte value, so that a status byte left in the data or a data byte taken for one shows.
  std::string sent;
  for (int i = 0; i < 150; ++i) sent += static_cast<char>(i * 7 + 1);
  Send(sent);
  standin_.advanceUs(device_, 100'000);
  std::uint32_t queued = 0;
  ASSERT_EQ(d2xx_.GetQueueStatus(handle, &queued), kFtOk);
  EXPECT_EQ(queued, 150u);  // three packets: 62 + 62, then 26 when the chip's timer runs out
  EXPECT_EQ(standin_.usbReads(device_), 2u);
  std::string received;
  for (std::uint32_t left = queued; left > 0; --left) {
    ASSERT_EQ(d2xx_.GetQueueStatus(handle, &queued), kFtOk);
    EXPECT_EQ(queued, left);
    char byte = 0;
    std::uint32_t got = 0;
    ASSERT_EQ(d2xx_.Read(handle, &byte, 1, &got), kFtOk);
    ASSERT_EQ(got, 1u);
    received += byte;
  }
  EXPECT_EQ(received, sent);
  EXPECT_EQ(standin_.usbReads(device_), 2u);
  // Now empty: the next query asks the chip, and does not wait for its timer to say nothing.
  const std::uint64_t before = standin_.nowUs();
  ASSERT_EQ(d2xx_.GetQueueStatus(handle, &queued), kFtOk);
  EXPECT_EQ(queued, 0u);
  EXPECT_EQ(standin_.usbReads(device_), 3u);
  EXPECT_LE(standin_.nowUs() - before, 1'000u);
  EXPECT_EQ(d2xx_.Close(handle), kFtOk);
}

}  // namespace
}  // namespace loadwing
