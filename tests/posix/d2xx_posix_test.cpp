#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/libftdi_d2xx.h"
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

}  // namespace
}  // namespace loadwing
