#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "fakes/fake_d2xx.h"
#include "fakes/fake_serial_port_map.h"
#include "link/port_discovery.h"
#include "link/usb_link.h"

namespace loadwing {
namespace {

using testing::FakeD2xx;
using testing::FakeSerialPortMap;
using Value = FakeSerialPortMap::Value;
using Entries = std::vector<std::string>;

const Entries kFallback = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"};

struct DiscoveryCase {
  const char* what;
  std::vector<Value> values;
  Entries expected;
};

void PrintTo(const DiscoveryCase& c, std::ostream* os) {
  *os << c.what;
}

class DiscoveryTableTest : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(DiscoveryTableTest, ListsTheEntries) {
  FakeSerialPortMap map;
  map.values = GetParam().values;
  EXPECT_EQ(DiscoverSerialPorts(map), GetParam().expected);
  EXPECT_EQ(map.opens, 1);
  EXPECT_EQ(map.closes, 1);
}

const std::string k199(199, 'x');

INSTANTIATE_TEST_SUITE_P(
    Values, DiscoveryTableTest,
    ::testing::Values(
        DiscoveryCase{"ascending by port number, not registry order",
                      {{"\\Device\\Serial5", "COM5"}, {"\\Device\\Serial1", "COM1"}},
                      {"COM1  (Serial1)", "COM5  (Serial5)"}},
        DiscoveryCase{"the last value naming a port wins",
                      {{"\\Device\\First", "COM3"}, {"\\Device\\Second", "COM3"}},
                      {"COM3  (Second)"}},
        DiscoveryCase{"a later value with an empty name replaces an earlier name",
                      {{"\\Device\\First", "COM3"}, {"\\Device\\", "COM3"}},
                      {"COM3"}},
        DiscoveryCase{
            "a name without the prefix is shown whole", {{"VCP0", "COM4"}}, {"COM4  (VCP0)"}},
        DiscoveryCase{"the text after the first prefix only",
                      {{"x\\Device\\a\\Device\\b", "COM4"}},
                      {"COM4  (a\\Device\\b)"}},
        DiscoveryCase{"a name ending right after the prefix gives the bare form",
                      {{"\\Device\\", "COM6"}},
                      {"COM6"}},
        DiscoveryCase{"two-digit ports and port 0",
                      {{"a", "COM12"}, {"b", "COM0"}},
                      {"COM0  (b)", "COM12  (a)"}},
        DiscoveryCase{
            "port 99 is the last that fits", {{"a", "COM99"}, {"b", "COM100"}}, {"COM99  (a)"}},
        DiscoveryCase{"number read like strtol: blanks, sign, digits up to the first other",
                      {{"a", "COM 7x"}, {"b", "COM+8"}, {"c", "COM-0"}, {"d", "COM-3"}},
                      {"COM0  (c)", "COM7  (a)", "COM8  (b)"}},
        DiscoveryCase{"no digits after COM read as port 0", {{"a", "COMx"}}, {"COM0  (a)"}},
        DiscoveryCase{"a huge number is out of range, not an overflow",
                      {{"a", "COM99999999999999999999999"}, {"b", "COM2"}},
                      {"COM2  (b)"}},
        DiscoveryCase{"COM alone, other prefixes and lower case are not ports",
                      {{"a", "COM"}, {"b", "LPT1"}, {"c", "com3"}, {"d", "XCOM4"}},
                      kFallback},
        DiscoveryCase{"a value of another type ends the enumeration but is examined",
                      {{"a", "COM2"}, {"b", "COM3", 7}, {"c", "COM4"}},
                      {"COM2  (a)", "COM3  (b)"}},
        DiscoveryCase{"a failed read ends the enumeration but is examined",
                      {{"a", "COM2"}, {"b", "COM3", 1, true}, {"c", "COM4"}},
                      {"COM2  (a)", "COM3  (b)"}},
        DiscoveryCase{"a first value of another type that is no port gives the fallback",
                      {{"a", "LPT1", 3}, {"b", "COM4"}},
                      kFallback},
        DiscoveryCase{"an empty map gives the fallback", {}, kFallback},
        DiscoveryCase{"a 199-character device name is kept whole",
                      {{k199, "COM1"}},
                      {"COM1  (" + k199 + ")"}}),
    [](const auto& p) { return std::to_string(p.index); });

TEST(DiscoveryTest, MissingMapGivesFallbackWithoutClosing) {
  FakeSerialPortMap map;
  map.openOk = false;
  map.values = {{"a", "COM3"}};
  EXPECT_EQ(DiscoverSerialPorts(map), kFallback);
  EXPECT_EQ(map.reads, 0);
  EXPECT_EQ(map.closes, 0);
}

TEST(DiscoveryTest, UnterminatedBuffersAreReadWithinTheirSize) {
  // 200 bytes of name and data with no zero: the reader must stop at the buffer's end.
  FakeSerialPortMap map;
  map.terminate = false;
  map.values = {{"\\Device\\" + std::string(300, 'n'), "COM7" + std::string(300, ' ')}};
  const Entries entries = DiscoverSerialPorts(map);
  ASSERT_EQ(entries.size(), 1u);
  // What stands in the buffer after the prefix: 192 characters.
  EXPECT_EQ(entries[0], "COM7  (" + std::string(192, 'n') + ")");
}

TEST(DiscoveryTest, UnterminatedNameWithoutPrefixIsCutToTheNameTable) {
  FakeSerialPortMap map;
  map.terminate = false;
  map.values = {{std::string(250, 'n'), "COM8"}};
  const Entries entries = DiscoverSerialPorts(map);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], "COM8  (" + std::string(199, 'n') + ")");
}

TEST(DiscoveryTest, BuffersAreEmptiedBeforeEachRead) {
  // The second read writes only a name and fails: had the data buffer kept "COM5", port 5
  // would be named after it.
  FakeSerialPortMap map;
  map.values = {{"\\Device\\A", "COM5"}, {"\\Device\\B", "", kRegSz, true, true}};
  EXPECT_EQ(DiscoverSerialPorts(map), Entries{"COM5  (A)"});
}

struct ProbeCase {
  const char* what;
  std::vector<std::string> descriptions;
  bool attached;
};

void PrintTo(const ProbeCase& c, std::ostream* os) {
  *os << c.what;
}

class ProbeTest : public ::testing::TestWithParam<ProbeCase> {
 protected:
  void SetUp() override { UsbLink::ResetListedForTesting(); }
};

TEST_P(ProbeTest, FindsTheCableByItsExactDescription) {
  FakeD2xx d2xx;
  for (const std::string& d : GetParam().descriptions) d2xx.devices.push_back({d, {}, {}, false});
  UsbLink cable(d2xx);
  EXPECT_EQ(ProbeUsbCable(cable), GetParam().attached);
}

INSTANTIATE_TEST_SUITE_P(
    Cables, ProbeTest,
    ::testing::Values(ProbeCase{"none", {}, false},
                      ProbeCase{"the cable", {"USB <-> ORV serial Device"}, true},
                      ProbeCase{
                          "behind another", {"FT232R USB UART", "USB <-> ORV serial Device"}, true},
                      ProbeCase{"letter case differs", {"USB <-> ORV Serial Device"}, false},
                      ProbeCase{"trailing blank", {"USB <-> ORV serial Device "}, false},
                      ProbeCase{"prefix only", {"USB <-> ORV serial"}, false}),
    [](const auto& p) { return std::to_string(p.index); });

TEST(ProbeFailureTest, FailedListingMeansNoCable) {
  UsbLink::ResetListedForTesting();
  FakeD2xx d2xx;
  d2xx.devices.push_back({"USB <-> ORV serial Device", {}, {}, false});
  d2xx.listStatus = kFtOtherError;
  UsbLink cable(d2xx);
  EXPECT_FALSE(ProbeUsbCable(cable));
}

}  // namespace
}  // namespace loadwing
