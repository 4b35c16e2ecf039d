#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/clock.h"
#include "fakes/fake_d2xx.h"
#include "fakes/fake_status_view.h"
#include "flash/flash_transfer.h"
#include "link/link_io.h"
#include "link/posix_serial_port.h"
#include "link/usb_link.h"
#include "sim/pty_simulator.h"

namespace loadwing::sim {
namespace {

// Reads until n bytes came or the line stayed silent for two seconds.
std::string ReadAnswer(int fd, std::size_t n) {
  std::string answer;
  while (answer.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0) break;
    char buffer[64];
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, n - answer.size()));
    if (got <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  return answer;
}

// Opens the simulator's line raw, sends module 3's request and expects its ready answer.
void AskForModule3(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios tio{};
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  cfmakeraw(&tio);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
  ASSERT_EQ(write(fd, "MO3", 3), 3);
  EXPECT_EQ(ReadAnswer(fd, 6), "MO3OK1");
  close(fd);
}

TEST(PtySimulatorTest, AnswersARequestOnItsPseudoTerminalAndStops) {
  PtySimulator simulator;
  SimulatorConfig config;
  config.target = FirmwareTarget::Module3;
  ASSERT_TRUE(simulator.Start(config)) << simulator.Error();
  EXPECT_TRUE(simulator.Running());
  EXPECT_FALSE(simulator.Start(config));  // one run at a time
  const std::string path = simulator.DevicePath();
  ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;

  AskForModule3(path);

  EXPECT_EQ(simulator.Report().requests, 1u);
  EXPECT_EQ(simulator.Report().phase, SimulatorPhase::ReceiveBlocks);
  simulator.Stop();
  EXPECT_FALSE(simulator.Running());
  simulator.Stop();  // twice is harmless
}

// The moments are taken where the pacing cannot hide them: a piece when it came, an answer when
// it was written. Only the order and a lower bound (the pacing's own sleep) are checked.
TEST(PtySimulatorTest, KeepsATimelineOfThePiecesAndAnswersWhenAsked) {
  SimulatorConfig config;
  config.target = FirmwareTarget::Module3;
  config.baudRate = 38400;
  PtySimulator quiet;
  ASSERT_TRUE(quiet.Start(config)) << quiet.Error();
  PtySimulator simulator;
  simulator.KeepTimeline(true);
  ASSERT_TRUE(simulator.Start(config)) << simulator.Error();

  for (PtySimulator* s : {&quiet, &simulator}) AskForModule3(s->DevicePath());
  // Stopped first: the answer's moment is noted just after it was written.
  quiet.Stop();
  simulator.Stop();
  EXPECT_TRUE(quiet.Timeline().empty());
  const std::vector<LineEvent> events = simulator.Timeline();
  std::uint32_t in = 0;
  for (const LineEvent& e : events) {
    if (e.in) in += e.bytes;
  }
  EXPECT_EQ(in, 3u);
  ASSERT_GE(events.size(), 2u);
  EXPECT_TRUE(events.front().in);
  const LineEvent& answer = events.back();
  EXPECT_FALSE(answer.in);
  EXPECT_EQ(answer.bytes, 6u);
  const double paced = MachineSimulator::LineSeconds(3 + 6, 38400);
  EXPECT_GE(static_cast<double>(answer.monotonicNs - events.front().monotonicNs) / 1e9, paced);
}

TEST(PtySimulatorTest, RefusesADeviceThatCannotBeOpened) {
  PtySimulator simulator;
  EXPECT_FALSE(simulator.Start(SimulatorConfig{}, "/nonexistent/tty"));
  EXPECT_NE(simulator.Error().find("/nonexistent/tty"), std::string::npos);
  EXPECT_FALSE(simulator.Running());
}

// The whole dialogue through the real POSIX serial port layer, on the real clock: only the
// outcome and the bytes are checked, never the time it took.
TEST(PtySimulatorTest, TakesAWholeTransferThroughThePosixSerialPort) {
  PtySimulator simulator;
  ASSERT_TRUE(simulator.Start(SimulatorConfig{})) << simulator.Error();
  PosixSerialPort serial;
  ASSERT_TRUE(serial.Open(simulator.DevicePath()));
  ASSERT_TRUE(serial.SetCommState(SerialLineSettings{}));
  ASSERT_TRUE(serial.SetCommTimeouts(SerialTimeouts{}));
  testing::FakeD2xx d2xx;
  UsbLink usb(d2xx);
  testing::FakeStatusView view;
  SystemClock clock;
  const ConnectionId connectionId = SerialConnection(3);
  LinkIo link(connectionId, serial, usb, view, clock);

  FirmwareImage image;
  for (std::size_t i = 0; i < image.data.size(); ++i)
    image.data[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
  image.target = FirmwareTarget::CanModule;
  EXPECT_EQ(FlashTransfer(image, link, view, clock), FlashOutcome::Completed);
  EXPECT_EQ(view.statusText, " flash: completed");
  serial.Close();

  const SimulatorReport report = simulator.Report();
  ASSERT_EQ(report.transfers.size(), 1u);
  EXPECT_EQ(report.transfers[0].requestCode, "CAN");
  EXPECT_TRUE(report.transfers[0].checkByteMatched);
  ASSERT_EQ(report.image.size(), 32768u);
  EXPECT_TRUE(std::equal(report.image.begin(), report.image.end(), image.data.begin()));
  simulator.Stop();
}

}  // namespace
}  // namespace loadwing::sim
