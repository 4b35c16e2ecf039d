#include "sim/trace_replay.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/delayed_far_end.h"
#include "fakes/sim_link.h"
#include "firmware/firmware_loader.h"
#include "link/link_trace.h"

namespace loadwing {
namespace {

using testing::DelayedFarEnd;
using testing::StringTraceSink;
using testing::sim_link::SimLink;
using testing::sim_link::SimLinkKind;

// The loader over a fake link whose far end plays a recorded trace, its answers delayed as
// recorded on the fake clock.
struct ReplayRig : testing::FarEndLink {
  explicit ReplayRig(sim::ReplayScript script, SimLinkKind kind = SimLinkKind::Serial)
      : FarEndLink(
            [this](const std::uint8_t* data, std::uint32_t n) {
              std::vector<DelayedFarEnd::Answer> answers;
              for (sim::ReplayAnswer& a : machine.Feed(data, n)) {
                answers.push_back({a.delayUs, a.bytes});
              }
              return answers;
            },
            kind == SimLinkKind::Usb),
        machine(std::move(script)) {}
  FlashOutcome Flash(const FirmwareImage& image) { return FlashTransfer(image, link, view, clock); }
  sim::ReplayMachine machine;
};

sim::ReplayScript Parse(const std::string& text) {
  std::string error;
  auto script = sim::ParseTrace(text, error);
  EXPECT_TRUE(script) << error;
  return script.value_or(sim::ReplayScript{});
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

FirmwareImage ExampleModule3() {
  FirmwareImage image;
  const LoadOutcome outcome = LoadFirmwareFile(LOADWING_SOURCE_DIR "/examples/module3.mot", image);
  EXPECT_EQ(image.target, FirmwareTarget::Module3) << outcome.statusText;
  return image;
}

// A transfer traced on the simulator's side of one fault, then replayed: the same outcome, and
// the loader sends exactly what the trace shows.
struct RoundTrip {
  const char* name;
  sim::SimulatorConfig config;
  FlashOutcome outcome;
};

class TraceRoundTrip : public ::testing::TestWithParam<std::tuple<RoundTrip, SimLinkKind>> {};

TEST_P(TraceRoundTrip, ReplaysToTheSameOutcome) {
  const auto& [c, kind] = GetParam();
  const FirmwareImage image = testing::sim_link::PatternImage(FirmwareTarget::Module5);
  StringTraceSink sink;
  std::string text;
  {
    SimLink recorded(kind, c.config);
    LinkTrace trace(sink, recorded.clock);
    TracingSerialPort serial(recorded.serial, trace);
    TracingD2xx d2xx(recorded.d2xx, trace);
    UsbLink cable(d2xx);
    if (kind == SimLinkKind::Usb) {
      recorded.usb.Close();
      ASSERT_TRUE(cable.OpenByIndex(0, 38400, 0, 0, 8));
    }
    LinkIo link(recorded.connectionId, serial, cable, recorded.view, recorded.clock);
    EXPECT_EQ(FlashTransfer(image, link, recorded.view, recorded.clock), c.outcome);
  }
  ReplayRig replay(Parse(sink.text), kind);
  EXPECT_EQ(replay.Flash(image), c.outcome);
  EXPECT_FALSE(replay.machine.Mismatch());
  EXPECT_TRUE(replay.machine.Finished());
  EXPECT_EQ(replay.machine.Surplus(), 0u);
}

sim::SimulatorConfig Config(sim::RequestReply request, std::optional<std::uint32_t> refuse = {},
                            sim::VerdictReply verdict = sim::VerdictReply::Auto) {
  sim::SimulatorConfig config;
  config.request = request;
  config.refuseBlock = refuse;
  config.verdict = verdict;
  config.verdictText = "CSFAIL";
  return config;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TraceRoundTrip,
    ::testing::Combine(
        ::testing::Values(
            RoundTrip{"completed", Config(sim::RequestReply::Ready), FlashOutcome::Completed},
            RoundTrip{"refused", Config(sim::RequestReply::Ready, 3),
                      FlashOutcome::ErrorWhileFlashing},
            RoundTrip{"erase", Config(sim::RequestReply::EraseError), FlashOutcome::EraseError},
            RoundTrip{"csfail", Config(sim::RequestReply::Ready, {}, sim::VerdictReply::Text),
                      FlashOutcome::CrcError},
            RoundTrip{"silent", Config(sim::RequestReply::Silent), FlashOutcome::NoAnswer}),
        ::testing::Values(SimLinkKind::Serial, SimLinkKind::Usb)),
    [](const auto& param) {
      return std::string(std::get<0>(param.param).name) +
             (std::get<1>(param.param) == SimLinkKind::Usb ? "_usb" : "_serial");
    });

// The traces in tests/traces were recorded by `loadwing flash examples/module3.mot --port sim
// --sim-... --trace` from the simulator's fault modes; each replays to the outcome it recorded.
struct Recorded {
  const char* file;
  FlashOutcome outcome;
};

class RecordedTraces : public ::testing::TestWithParam<Recorded> {};

TEST_P(RecordedTraces, ReplayToTheirOutcome) {
  ReplayRig replay(
      Parse(ReadFile(std::string(LOADWING_SOURCE_DIR "/tests/traces/") + GetParam().file)));
  EXPECT_EQ(replay.Flash(ExampleModule3()), GetParam().outcome);
  EXPECT_FALSE(replay.machine.Mismatch());
  EXPECT_TRUE(replay.machine.Finished());
}

INSTANTIATE_TEST_SUITE_P(Faults, RecordedTraces,
                         ::testing::Values(Recorded{"refused_block.trace",
                                                    FlashOutcome::ErrorWhileFlashing},
                                           Recorded{"erase_error.trace", FlashOutcome::EraseError},
                                           Recorded{"csfail.trace", FlashOutcome::CrcError},
                                           Recorded{"no_answer.trace", FlashOutcome::NoAnswer}),
                         [](const ::testing::TestParamInfo<Recorded>& param) {
                           const std::string file = param.param.file;
                           return file.substr(0, file.find('.'));
                         });

TEST(TraceReplay, SaysWhereTheLoaderDepartsFromTheTrace) {
  const std::string text = ReadFile(LOADWING_SOURCE_DIR "/tests/traces/csfail.trace");
  FirmwareImage image = ExampleModule3();
  image.data[300] ^= 0xFF;  // block 1, byte 44
  ReplayRig replay(Parse(text));
  replay.Flash(image);
  ASSERT_TRUE(replay.machine.Mismatch());
  const sim::ReplayMismatch& m = *replay.machine.Mismatch();
  EXPECT_EQ(m.expected, static_cast<std::uint8_t>(image.data[300] ^ 0xFF));
  EXPECT_EQ(m.got, image.data[300]);
  // That byte is the 301st data byte sent: the 44th byte of the second frame's first write.
  std::istringstream lines(text);
  std::string line;
  std::uint32_t number = 0;
  int frameWrites = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (line.find(" write 128 ") != std::string::npos && ++frameWrites == 3) break;
  }
  EXPECT_EQ(m.line, number);
}

TEST(TraceReplay, AnswersAsLongAfterTheLastByteAsRecorded) {
  sim::ReplayMachine machine(
      Parse("# loadwing trace 1\n100 open /dev/ttyUSB0\n200 write 2 4d4f\n300 write 1 33\n"
            "15300 wait 1\n2000300 read 2 4d4f\n2000400 read 4 334f4b31\n# a comment\n"
            "2100000 write 1 00\n"));
  EXPECT_TRUE(machine.Feed(reinterpret_cast<const std::uint8_t*>("MO"), 2).empty());
  const auto answers = machine.Feed(reinterpret_cast<const std::uint8_t*>("3"), 1);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].delayUs, 2'000'000);
  EXPECT_EQ(std::string(answers[0].bytes.begin(), answers[0].bytes.end()), "MO3OK1");
  EXPECT_FALSE(machine.Finished());
  const std::uint8_t zero[] = {0, 7};
  EXPECT_TRUE(machine.Feed(zero, 2).empty());
  EXPECT_TRUE(machine.Finished());
  EXPECT_EQ(machine.Surplus(), 1u);
}

TEST(TraceReplay, RefusesWhatIsNoTrace) {
  const std::string head = "# loadwing trace 1\n";
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      {"", "empty"},
      {"hello\n", "line 1: not a loadwing trace"},
      {head + "12 write 2 4d4\n", "line 2: the bytes do not match their count"},
      {head + "12 write 2 4d4g\n", "line 2: not hexadecimal"},
      {head + "12 read 0 \n", "line 2: the bytes do not match their count"},
      {head + "12 purge\n10 purge\n", "line 3: the time goes backwards"},
      {head + "-3 purge\n", "line 2: no time"},
      {head + "99999999999999999999 purge\n", "line 2: no time"},
      {head + "5 write 99999999999999999999 00\n", "line 2: no byte count"},
      {head + "5 write 1 00 extra\n", "line 2: the bytes do not match their count"},
      {head + "5 write 1 " + std::string(5000, '0') + "\n", "line 2: too long"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(sim::ParseTrace(c.text, error)) << c.text.substr(0, 60);
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
}

TEST(LinkTraceFormat, WritesEachCallAsALineAndCountsIdlePolls) {
  testing::FakeClock clock;
  StringTraceSink sink;
  LinkTrace trace(sink, clock);
  testing::FakeD2xx d2xx(&clock);
  TracingD2xx traced(d2xx, trace);
  UsbLink::ResetListedForTesting();
  d2xx.devices.push_back({kUsbCableDescription, {}, {}, false});
  UsbLink cable(traced);
  ASSERT_TRUE(cable.OpenByIndex(0, 38400, 0, 0, 8));
  std::uint8_t byte = 0;
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(cable.Read(&byte, 1), 0u);  // 1 ms each, fake clock
  const std::uint8_t request[] = {'M', 'O', '3'};
  EXPECT_EQ(cable.Write(request, 3), 3u);
  cable.Close();
  EXPECT_EQ(sink.text,
            "# loadwing trace 1\n"
            "0 usb-open 0\n"
            "0 usb-baud 38400\n"
            "0 usb-format 8 0 0\n"
            "1000000 idle 1000 999000\n"
            "1000000 write 3 4d4f33\n"
            "1000000 close\n");
  sink.fail = true;
  trace.Event("purge");
  EXPECT_TRUE(trace.Failed());
}

}  // namespace
}  // namespace loadwing
