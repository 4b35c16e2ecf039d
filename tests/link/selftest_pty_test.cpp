#include <gtest/gtest.h>

#include "fakes/fake_d2xx.h"
#include "fakes/fake_status_view.h"
#include "fakes/pty_echo.h"
#include "flash/loopback_test.h"
#include "link/link_connect.h"
#include "link/posix_serial_port.h"

namespace loadwing {
namespace {

struct PtyCase {
  const char* name;
  testing::PtyEcho::Plug plug;
  LoopbackVerdict verdict;
};

class SelftestOnPty : public ::testing::TestWithParam<PtyCase> {};

// The check through the real serial layer, configured as a transfer configures it, on a pty
// whose other end behaves like a loopback plug.
TEST_P(SelftestOnPty, TellsWhatThePlugDoes) {
  testing::PtyEcho echo(GetParam().plug);
  ASSERT_FALSE(echo.DevicePath().empty());
  PosixSerialPort port;
  ASSERT_EQ(ConnectSerialPort(port, echo.DevicePath()), LinkError::None);
  testing::FakeD2xx d2xx;
  UsbLink cable(d2xx);
  testing::FakeStatusView view;
  SystemClock seconds;
  SteadyFineClock clock;
  const ConnectionId id = SerialConnection(0);
  LinkIo link(id, port, cable, view, seconds);
  const LoopbackReport report = RunLoopbackTest(link, clock);
  EXPECT_EQ(report.verdict, GetParam().verdict) << report.pattern << " " << report.received;
  if (report.verdict == LoopbackVerdict::Carries) {
    // A pty has no line speed: the bytes come back faster than 38400 baud, and that is said.
    EXPECT_TRUE(report.fasterThanLine);
    EXPECT_GT(report.drainUs, 5'000);  // one read that runs out at its time limit
  }
}

INSTANTIATE_TEST_SUITE_P(
    Plugs, SelftestOnPty,
    ::testing::Values(PtyCase{"echo", {}, LoopbackVerdict::Carries},
                      PtyCase{"drop", {300}, LoopbackVerdict::BytesLost},
                      PtyCase{"delay", {-1, 40}, LoopbackVerdict::SlowDelivery},
                      PtyCase{"silent", {-1, 0, true}, LoopbackVerdict::NothingBack}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace loadwing
