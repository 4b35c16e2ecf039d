#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/link_connect.h"
#include "link/posix_serial_port.h"

namespace loadwing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::steady_clock;

// A generous ceiling for waits that should take milliseconds: it only catches hangs.
constexpr auto kHang = std::chrono::seconds(1);

// A pseudo-terminal: the port under test opens the slave by its path, the test plays the
// machine on the master.
class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256] = {};
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    path_ = name;
  }
  void TearDown() override {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }

  void OpenConfigured(PosixSerialPort& port) {
    ASSERT_EQ(ConnectSerialPort(port, path_), LinkError::None);
  }
  // Waits until the bytes the master wrote have reached the slave's input.
  bool SlaveReadable() {
    pollfd p{slave_, POLLIN, 0};
    return poll(&p, 1, 1000) == 1;
  }
  Bytes ReadFromMaster(std::size_t n) {
    Bytes got;
    std::uint8_t chunk[512];
    while (got.size() < n) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 1000) != 1) break;
      const ssize_t r = read(master_, chunk, sizeof chunk);
      if (r <= 0) break;
      got.insert(got.end(), chunk, chunk + r);
    }
    return got;
  }

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

Bytes EveryByteValue(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

TEST_F(PtyTest, ConfiguresRaw38400EightNoneOne) {
  PosixSerialPort port;
  OpenConfigured(port);
  termios t{};
  ASSERT_EQ(tcgetattr(slave_, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
}

TEST_F(PtyTest, UnsupportedLineSettingsAreRefused) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(path_));
  EXPECT_FALSE(port.SetCommState({12345, 8, 0, 0}));
  EXPECT_FALSE(port.SetCommState({38400, 9, 0, 0}));
  EXPECT_FALSE(port.SetCommState({38400, 8, 7, 0}));
  EXPECT_FALSE(port.SetCommState({38400, 8, 0, 1}));
  EXPECT_TRUE(port.SetCommState({38400, 8, 0, 0}));
}

TEST_F(PtyTest, WrittenBytesArriveIntact) {
  PosixSerialPort port;
  OpenConfigured(port);
  const Bytes data = EveryByteValue(257);
  std::uint32_t written = 0;
  ASSERT_TRUE(port.Write(data.data(), 257, written));
  EXPECT_EQ(written, 257u);
  EXPECT_EQ(ReadFromMaster(257), data);
}

TEST_F(PtyTest, ReceivedBytesArriveIntactOneAtATime) {
  PosixSerialPort port;
  OpenConfigured(port);
  const Bytes data = EveryByteValue(257);
  ASSERT_EQ(write(master_, data.data(), data.size()), 257);
  Bytes got;
  for (int attempts = 0; got.size() < data.size() && attempts < 2000; ++attempts) {
    std::uint8_t byte = 0;
    std::uint32_t n = 0;
    ASSERT_TRUE(port.Read(&byte, 1, n));
    if (n == 1) got.push_back(byte);
  }
  EXPECT_EQ(got, data);
}

TEST_F(PtyTest, MultiByteReadTakesWhatArrives) {
  PosixSerialPort port;
  OpenConfigured(port);
  ASSERT_EQ(write(master_, "abc", 3), 3);
  ASSERT_TRUE(SlaveReadable());
  std::uint8_t buffer[8] = {};
  std::uint32_t got = 0;
  ASSERT_TRUE(port.Read(buffer, 8, got));  // waits at most 10 + 5 * 8 ms for the rest
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "abc");
}

TEST_F(PtyTest, PurgeDiscardsEarlierInput) {
  PosixSerialPort port;
  OpenConfigured(port);
  ASSERT_EQ(write(master_, "stale", 5), 5);
  ASSERT_TRUE(SlaveReadable());
  ASSERT_TRUE(port.Purge());
  std::uint8_t byte = 0;
  std::uint32_t got = 7;
  ASSERT_TRUE(port.Read(&byte, 1, got));
  EXPECT_EQ(got, 0u);
}

TEST_F(PtyTest, SilentOneByteReadReturnsNothing) {
  PosixSerialPort port;
  OpenConfigured(port);
  std::uint8_t byte = 0;
  std::uint32_t got = 7;
  const auto start = steady_clock::now();
  ASSERT_TRUE(port.Read(&byte, 1, got));
  EXPECT_EQ(got, 0u);
  EXPECT_LT(steady_clock::now() - start, kHang);
}

TEST_F(PtyTest, SecondOpenerIsRefused) {
  PosixSerialPort first;
  PosixSerialPort second;
  ASSERT_TRUE(first.Open(path_));
  EXPECT_FALSE(second.Open(path_));
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(ConnectSerialPort(second, path_), LinkError::InvalidHandle);
  first.Close();
  EXPECT_TRUE(second.Open(path_));
}

TEST_F(PtyTest, MissingDeviceCannotBeOpened) {
  PosixSerialPort port;
  EXPECT_FALSE(port.Open("/dev/loadwing-no-such-port"));
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(PtyTest, ReadAfterTheFarEndClosedReturnsNothingWithoutHanging) {
  PosixSerialPort port;
  OpenConfigured(port);
  close(master_);
  master_ = -1;
  for (int i = 0; i < 3; ++i) {
    std::uint8_t byte = 0;
    std::uint32_t got = 7;
    const auto start = steady_clock::now();
    static_cast<void>(port.Read(&byte, 1, got));
    EXPECT_EQ(got, 0u);
    EXPECT_LT(steady_clock::now() - start, kHang);
  }
}

TEST_F(PtyTest, WriteAfterTheFarEndClosedFails) {
  PosixSerialPort port;
  OpenConfigured(port);
  close(master_);
  master_ = -1;
  const std::uint8_t data[3] = {1, 2, 3};
  std::uint32_t written = 0;
  const auto start = steady_clock::now();
  EXPECT_FALSE(port.Write(data, 3, written));
  EXPECT_EQ(written, 0u);
  EXPECT_LT(steady_clock::now() - start, kHang);
}

TEST_F(PtyTest, WriteToAFarEndThatDoesNotReadEndsWithinItsLimit) {
  PosixSerialPort port;
  OpenConfigured(port);
  SerialTimeouts limits;
  limits.writeTotalTimeoutMultiplier = 0;
  limits.writeTotalTimeoutConstant = 100;
  ASSERT_TRUE(port.SetCommTimeouts(limits));
  // More than a pty buffers: the write ends by its time limit with what fitted.
  const Bytes data(1024 * 1024, 0x55);
  std::uint32_t written = 0;
  const auto start = steady_clock::now();
  EXPECT_TRUE(port.Write(data.data(), static_cast<std::uint32_t>(data.size()), written));
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, data.size());
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(PtyTest, ClosedPortRefusesEverything) {
  PosixSerialPort port;
  std::uint8_t byte = 0;
  std::uint32_t n = 0;
  EXPECT_FALSE(port.SetCommState({}));
  EXPECT_FALSE(port.SetCommTimeouts({}));
  EXPECT_FALSE(port.SetupComm(2048, 2048));
  EXPECT_FALSE(port.Purge());
  EXPECT_FALSE(port.Read(&byte, 1, n));
  EXPECT_FALSE(port.Write(&byte, 1, n));
}

}  // namespace
}  // namespace loadwing
