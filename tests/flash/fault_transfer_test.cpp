// A fault at every step of a whole transfer. One clean run counts the steps (every Write and
// Read call on the serial port, every FT_Write and FT_Read on the cable) and notes what each one
// is; then for every step N the transfer runs again with step N failing the way a real link
// fails: a write error, the machine falling silent from then on, the link closed as a device
// change closes it (connection id 0), or a garbage byte in place of the byte that was due. Each
// run must end with the outcome its phase gives, send nothing after the point where the transfer
// must stop, leave the controls enabled and the bar at 0, and wait no longer than its limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/sim_link.h"
#include "flash/flash_transfer.h"

namespace loadwing {
namespace {

using testing::FakeD2xx;
using testing::FakeSerialPort;
using testing::FakeStatusView;
using testing::LinkCall;
using testing::LinkFault;
using testing::sim_link::PatternImage;
using testing::sim_link::SimLink;
using testing::sim_link::SimLinkKind;

enum class Fault { WriteError, Silence, Closed, Garbage };
enum class Phase { Query, Blocks, Verdict };
enum class Role { Write, AnswerBytes, SilentRead };

constexpr std::uint8_t kGarbage = 0x7E;  // never part of an answer the transfer waits for

// One step of the clean run.
struct Step {
  Role role;
  Phase phase;
  std::uint32_t block;        // blocks acknowledged before it
  std::uint32_t answerBytes;  // bytes of the current answer received before it
};

Phase PhaseShown(const FakeStatusView& view) {
  const int last = view.LastShownOf({" flash: start...", " flash: wait for success message..."});
  return last == 0 ? Phase::Blocks : last == 1 ? Phase::Verdict : Phase::Query;
}

// Counts the steps and makes step failAt fail. Shared by the serial port and the cable.
class Injector {
 public:
  Injector(ConnectionId& connectionId, FakeStatusView& view)
      : connectionId_(connectionId), view_(view) {}

  // Called at the start of every step; returns its index.
  int Begin() { return step_++; }
  bool Hits(int step, Fault kind) const { return step == failAt && fault == kind; }
  bool Silent(int step) const { return fault == Fault::Silence && failAt >= 0 && step >= failAt; }
  // The device went away: the connection id is 0, as after a device change.
  void CloseLink() { connectionId_ = kNoConnection; }
  // Notes the role of a step in the clean run.
  void Note(Role role) {
    const Phase phase = PhaseShown(view_);
    if (role == Role::Write) answerBytes_ = 0;
    steps.push_back({role, phase, blocks_, answerBytes_});
    if (role == Role::AnswerBytes) {
      if (phase == Phase::Blocks) ++blocks_;
      ++answerBytes_;
    }
  }
  // Any call at all after the fault (to see that a closed link is left alone).
  void Touch() {
    if (failAt >= 0 && step_ > failAt) ++callsAfterFault;
  }

  // Puts the injector between the transfer and both fake links.
  void Attach(FakeSerialPort& serial, FakeD2xx& d2xx) {
    serial.faults.before = [this](LinkCall call, std::uint32_t) { return Decide(call, true); };
    d2xx.faults.before = [this](LinkCall call, std::uint32_t) { return Decide(call, false); };
    serial.faults.after = d2xx.faults.after = [this](LinkCall call, bool ok, std::uint32_t got) {
      Done(call, ok, got);
    };
    serial.faults.garbage = d2xx.faults.garbage = kGarbage;
  }

  int failAt = -1;
  Fault fault = Fault::Silence;
  std::vector<Step> steps;
  std::vector<int> writeSteps;  // the steps that were writes reaching the line
  int callsAfterFault = 0;

 private:
  // Every Read and Write is a step (a queue poll only leads to one); the step that fails gets
  // the fault, and silence lasts from there on.
  LinkFault Decide(LinkCall call, bool serial) {
    Touch();
    if (call == LinkCall::Purge) return LinkFault::None;
    if (call == LinkCall::QueueStatus) return Silent(step_) ? LinkFault::Silence : LinkFault::None;
    const int step = Begin();
    if (Hits(step, Fault::Closed)) {
      CloseLink();
      return LinkFault::Close;
    }
    if (call == LinkCall::Write)
      return Hits(step, Fault::WriteError) ? LinkFault::Fail : LinkFault::None;
    if (serial && Silent(step)) return LinkFault::Silence;
    return Hits(step, Fault::Garbage) ? LinkFault::Garbage : LinkFault::None;
  }
  void Done(LinkCall call, bool ok, std::uint32_t got) {
    if (call == LinkCall::Write) {
      Note(Role::Write);
      if (ok) writeSteps.push_back(step_ - 1);
    } else if (call == LinkCall::Read) {
      Note(got > 0 ? Role::AnswerBytes : Role::SilentRead);
    }
  }

  ConnectionId& connectionId_;
  FakeStatusView& view_;
  int step_ = 0;
  std::uint32_t blocks_ = 0;
  std::uint32_t answerBytes_ = 0;
};

// One transfer of a module image over a faulty link into the simulated machine.
struct FaultyRun {
  explicit FaultyRun(SimLinkKind kind, int failAt = -1, Fault fault = Fault::Silence)
      : h(kind), injector(h.connectionId, h.view) {
    injector.failAt = failAt;
    injector.fault = fault;
    injector.Attach(h.serial, h.d2xx);
    h.clock.stepMsPerRead = 1;  // with the link closed nothing else moves the clock
    EXPECT_TRUE(kind == SimLinkKind::Serial || h.usbOpened);
    outcome = h.Flash(image);
  }
  // Complete frames the machine received, and whether the check byte reached it.
  std::uint32_t FramesReceived() const {
    const auto& record = h.machine.Report();
    if (record.current) return record.current->blocksReceived;
    return record.transfers.empty() ? 0 : record.transfers.back().blocksReceived;
  }
  bool CheckByteReceived() const {
    const auto& record = h.machine.Report();
    return !record.transfers.empty() && record.transfers.back().checkByteReceived;
  }

  FirmwareImage image = PatternImage(FirmwareTarget::Module3);
  SimLink h;
  Injector injector;
  FlashOutcome outcome = FlashOutcome::NotStarted;
};

// What the outcome table gives for a fault at a step.
struct Expectation {
  std::optional<FlashOutcome> outcome;  // none: the garbled ready answer, see below
  std::string status;
  std::optional<std::uint32_t> frames;  // complete frames the machine receives
  bool checkByte = false;
  bool nothingAfterFault = false;  // no call at all reaches the link after the faulty step
  bool writeErrorShown = false;
};

const char* const kNoAnswer = " flash: no answer";
const char* const kWriteError = " Write COM: write error";
const char* const kNoAnswerWhileFlashing = " flash: no answer while flashing";
const char* const kErrorWhileFlashing = " flash: error while flashing";
const char* const kNoAnswerAfterFlashing = " flash: no answer after flashing";
const char* const kCompleted = " flash: completed";
const std::string kReturnCode = " flash: no success, returncode: ";

Expectation Expect(const Step& step, Fault fault, bool serial, std::uint32_t blocks) {
  const Expectation completed{FlashOutcome::Completed, kCompleted, blocks, true, false, false};
  const std::uint32_t b = step.block;
  const bool write = step.role == Role::Write;
  const bool answer = step.role == Role::AnswerBytes;
  switch (step.phase) {
    case Phase::Query:
      switch (fault) {
        case Fault::WriteError:
          // The request is tried again while there is time; on the cable the lost request
          // shows only as a missing answer.
          return {FlashOutcome::Completed, kCompleted, blocks, true, false, serial};
        case Fault::Silence:
          return {FlashOutcome::NoAnswer, kNoAnswer, 0u, false, false, false};
        case Fault::Closed:
          return {FlashOutcome::NoAnswer, kNoAnswer, 0u, false, true, serial && write};
        case Fault::Garbage:
          if (!answer) return completed;  // a stray byte the drain throws away
          return {std::nullopt, "", std::nullopt, false, false, false};
      }
      break;
    case Phase::Blocks:
      switch (fault) {
        case Fault::WriteError:
          if (serial) return {FlashOutcome::WriteError, kWriteError, b, false, false, true};
          return {
              FlashOutcome::NoAnswerWhileFlashing, kNoAnswerWhileFlashing, b, false, false, false};
        case Fault::Silence:
          // Writes still reach the machine: the frame under way goes out whole.
          return {FlashOutcome::NoAnswerWhileFlashing,
                  kNoAnswerWhileFlashing,
                  b + 1,
                  false,
                  false,
                  false};
        case Fault::Closed:
          if (write && serial) return {FlashOutcome::WriteError, kWriteError, b, false, true, true};
          // Closed at the acknowledgement, the frame was out; closed before it, it never went.
          return {FlashOutcome::NoAnswerWhileFlashing,
                  kNoAnswerWhileFlashing,
                  answer ? b + 1 : b,
                  false,
                  true,
                  false};
        case Fault::Garbage:
          if (!answer) return completed;
          return {FlashOutcome::ErrorWhileFlashing, kErrorWhileFlashing, b + 1, false, true, false};
      }
      break;
    case Phase::Verdict: {
      const std::uint32_t k = step.answerBytes;
      switch (fault) {
        case Fault::WriteError:
          if (serial) return {FlashOutcome::WriteError, kWriteError, blocks, false, false, true};
          return {FlashOutcome::NoAnswerAfterFlashing,
                  kNoAnswerAfterFlashing,
                  blocks,
                  false,
                  false,
                  false};
        case Fault::Silence:
        case Fault::Closed: {
          const bool closed = fault == Fault::Closed;
          if (closed && write && serial) {
            return {FlashOutcome::WriteError, kWriteError, blocks, false, true, true};
          }
          // The check byte went out unless the link closed before it was written.
          const bool checkByte = answer || !closed;
          if (answer && k > 0) {
            return {FlashOutcome::NoSuccess,
                    kReturnCode + std::string("SUCCES", k),
                    blocks,
                    checkByte,
                    closed,
                    false};
          }
          return {FlashOutcome::NoAnswerAfterFlashing,
                  kNoAnswerAfterFlashing,
                  blocks,
                  checkByte,
                  closed,
                  false};
        }
        case Fault::Garbage: {
          if (!answer) return completed;
          std::string verdict = "SUCCES";
          verdict[k] = static_cast<char>(kGarbage);
          // The rest of the verdict is still read.
          return {FlashOutcome::NoSuccess, kReturnCode + verdict, blocks, true, false, false};
        }
      }
      break;
    }
  }
  return {};
}

struct FaultCase {
  std::string name;
  SimLinkKind link;
  Fault fault;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class FaultAtEveryStepTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultAtEveryStepTest, EndsAsItsPhaseSays) {
  const FaultCase& c = GetParam();
  const bool serial = c.link == SimLinkKind::Serial;
  const FaultyRun clean(c.link);
  ASSERT_EQ(clean.outcome, FlashOutcome::Completed);
  const std::vector<Step>& steps = clean.injector.steps;
  const std::uint32_t blocks = 128;
  // Serial: a drain read, 3 writes and the acknowledgement per block; the cable: one write and
  // one read. Plus the query and the verdict.
  ASSERT_GE(steps.size(), blocks * (serial ? 5u : 2u));
  const std::int64_t cleanMs = clean.h.ElapsedMs();

  int checked = 0;
  for (std::size_t n = 0; n < steps.size(); ++n) {
    const Step& step = steps[n];
    if (c.fault == Fault::WriteError && step.role != Role::Write) continue;
    if (c.fault == Fault::Garbage && step.role == Role::Write) continue;
    SCOPED_TRACE("step " + std::to_string(n) + " of " + std::to_string(steps.size()) + ", block " +
                 std::to_string(step.block));
    const FaultyRun run(c.link, static_cast<int>(n), c.fault);
    const Expectation want = Expect(step, c.fault, serial, blocks);
    ++checked;

    if (want.outcome) {
      EXPECT_EQ(run.outcome, *want.outcome);
      EXPECT_EQ(run.h.view.statusText, want.status);
    } else {
      // A garbled ready answer: the request is sent again, never a frame.
      const auto next = std::find_if(run.injector.writeSteps.begin(), run.injector.writeSteps.end(),
                                     [n](int s) { return s > static_cast<int>(n); });
      ASSERT_NE(next, run.injector.writeSteps.end());
      const Step& after = run.injector.steps[static_cast<std::size_t>(*next)];
      EXPECT_EQ(after.phase, Phase::Query);
      EXPECT_NE(run.outcome, FlashOutcome::WriteError);
    }
    if (want.frames) {
      EXPECT_EQ(run.FramesReceived(), *want.frames);
    }
    EXPECT_EQ(run.CheckByteReceived(), want.checkByte);
    if (want.nothingAfterFault) {
      EXPECT_EQ(run.injector.callsAfterFault, 0);
    }
    const auto& shown = run.h.view.shown;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), kWriteError) > 0, want.writeErrorShown);
    EXPECT_EQ(run.h.view.enableCalls, (std::vector<bool>{false, true}));
    EXPECT_EQ(run.h.view.progressPos, 0);

    // Waiting: a fault adds at most one phase's worth of waiting to the clean run: the query's
    // 20 s + 4 s, a block's 21 s, or the verdict's 41 s, each with a drain and a second of
    // clock granularity.
    const std::int64_t phaseMs = step.phase == Phase::Query    ? 25'000
                                 : step.phase == Phase::Blocks ? 22'000
                                                               : 42'000;
    EXPECT_LE(run.h.ElapsedMs(), cleanMs + phaseMs + 3'000 + 100);
    if (::testing::Test::HasFailure()) break;  // one failing step tells enough
  }
  EXPECT_GT(checked, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Links, FaultAtEveryStepTest,
    ::testing::Values(FaultCase{"serial_write_error", SimLinkKind::Serial, Fault::WriteError},
                      FaultCase{"serial_silence", SimLinkKind::Serial, Fault::Silence},
                      FaultCase{"serial_closed", SimLinkKind::Serial, Fault::Closed},
                      FaultCase{"serial_garbage", SimLinkKind::Serial, Fault::Garbage},
                      FaultCase{"usb_write_error", SimLinkKind::Usb, Fault::WriteError},
                      FaultCase{"usb_silence", SimLinkKind::Usb, Fault::Silence},
                      FaultCase{"usb_closed", SimLinkKind::Usb, Fault::Closed},
                      FaultCase{"usb_garbage", SimLinkKind::Usb, Fault::Garbage}),
    [](const ::testing::TestParamInfo<FaultCase>& param) { return param.param.name; });

}  // namespace
}  // namespace loadwing
