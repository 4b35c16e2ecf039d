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
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/sim_link.h"
#include "flash/flash_transfer.h"

namespace loadwing {
namespace {

using testing::FakeClock;
using testing::FakeD2xx;
using testing::FakeSerialPort;
using testing::FakeStatusView;
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
  for (auto it = view.shown.rbegin(); it != view.shown.rend(); ++it) {
    if (*it == " flash: start...") return Phase::Blocks;
    if (*it == " flash: wait for success message...") return Phase::Verdict;
    if (*it == " flash: query system...") return Phase::Query;
  }
  return Phase::Query;
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
  int StepCount() const { return step_; }

  int failAt = -1;
  Fault fault = Fault::Silence;
  std::vector<Step> steps;
  std::vector<int> writeSteps;  // the steps that were writes reaching the line
  int callsAfterFault = 0;

 private:
  ConnectionId& connectionId_;
  FakeStatusView& view_;
  int step_ = 0;
  std::uint32_t blocks_ = 0;
  std::uint32_t answerBytes_ = 0;
};

class FaultySerialPort final : public SerialPort {
 public:
  FaultySerialPort(FakeSerialPort& inner, FakeClock& clock, Injector& injector)
      : inner_(inner), clock_(clock), injector_(injector) {}
  bool Open(const std::string& path) override { return inner_.Open(path); }
  bool SetCommState(const SerialLineSettings& s) override { return inner_.SetCommState(s); }
  bool SetCommTimeouts(const SerialTimeouts& t) override { return inner_.SetCommTimeouts(t); }
  bool SetupComm(std::uint32_t in, std::uint32_t out) override { return inner_.SetupComm(in, out); }
  bool Purge() override {
    injector_.Touch();
    return inner_.Purge();
  }
  bool Read(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& got) override {
    injector_.Touch();
    const int step = injector_.Begin();
    if (injector_.Hits(step, Fault::Closed)) {
      injector_.CloseLink();
      inner_.Close();
    }
    got = 0;
    bool ok = true;
    if (injector_.Silent(step)) {
      clock_.AdvanceMs(inner_.silentReadCostMs);
    } else {
      ok = inner_.Read(buffer, n, got);
    }
    if (injector_.Hits(step, Fault::Garbage)) {
      buffer[0] = kGarbage;
      got = std::max<std::uint32_t>(got, 1);
    }
    injector_.Note(got > 0 ? Role::AnswerBytes : Role::SilentRead);
    return ok;
  }
  bool Write(const std::uint8_t* data, std::uint32_t n, std::uint32_t& written) override {
    injector_.Touch();
    const int step = injector_.Begin();
    injector_.Note(Role::Write);
    if (injector_.Hits(step, Fault::Closed)) {
      injector_.CloseLink();
      inner_.Close();
    }
    if (injector_.Hits(step, Fault::WriteError)) {
      written = 0;
      return false;
    }
    const bool ok = inner_.Write(data, n, written);
    if (ok) injector_.writeSteps.push_back(step);
    return ok;
  }
  void Close() override { inner_.Close(); }
  bool IsOpen() const override { return inner_.IsOpen(); }

 private:
  FakeSerialPort& inner_;
  FakeClock& clock_;
  Injector& injector_;
};

class FaultyD2xx final : public D2xx {
 public:
  FaultyD2xx(FakeD2xx& inner, FakeClock& clock, Injector& injector)
      : inner_(inner), clock_(clock), injector_(injector) {}
  FtStatus ListDevices(void* a, void* b, std::uint32_t flags) override {
    return inner_.ListDevices(a, b, flags);
  }
  FtStatus Open(int index, FtHandle* handle) override { return inner_.Open(index, handle); }
  FtStatus Close(FtHandle handle) override { return inner_.Close(handle); }
  FtStatus SetBaudRate(FtHandle h, std::uint32_t baud) override {
    return inner_.SetBaudRate(h, baud);
  }
  FtStatus SetDataCharacteristics(FtHandle h, std::uint8_t w, std::uint8_t s,
                                  std::uint8_t p) override {
    return inner_.SetDataCharacteristics(h, w, s, p);
  }
  FtStatus GetQueueStatus(FtHandle h, std::uint32_t* queued) override {
    injector_.Touch();
    // Silence: nothing arrives any more. (A queue poll is not a step of its own: the read it
    // leads to is.)
    if (injector_.Silent(injector_.StepCount())) {
      *queued = 0;
      clock_.AdvanceMs(1);
      return kFtOk;
    }
    return inner_.GetQueueStatus(h, queued);
  }
  FtStatus Read(FtHandle h, void* buffer, std::uint32_t n, std::uint32_t* got) override {
    injector_.Touch();
    const int step = injector_.Begin();
    *got = 0;
    if (injector_.Hits(step, Fault::Closed)) {
      injector_.CloseLink();
      injector_.Note(Role::SilentRead);
      return kFtOtherError;  // the device is gone
    }
    const FtStatus status = inner_.Read(h, buffer, n, got);
    if (injector_.Hits(step, Fault::Garbage)) {
      static_cast<std::uint8_t*>(buffer)[0] = kGarbage;
      *got = std::max<std::uint32_t>(*got, 1);
    }
    injector_.Note(*got > 0 ? Role::AnswerBytes : Role::SilentRead);
    return status;
  }
  FtStatus Write(FtHandle h, void* buffer, std::uint32_t n, std::uint32_t* written) override {
    injector_.Touch();
    const int step = injector_.Begin();
    injector_.Note(Role::Write);
    *written = 0;
    if (injector_.Hits(step, Fault::Closed)) {
      injector_.CloseLink();
      return kFtOtherError;
    }
    if (injector_.Hits(step, Fault::WriteError)) return kFtOtherError;
    const FtStatus status = inner_.Write(h, buffer, n, written);
    injector_.writeSteps.push_back(step);
    return status;
  }

 private:
  FakeD2xx& inner_;
  FakeClock& clock_;
  Injector& injector_;
};

// One transfer of a module image over a faulty link into the simulated machine.
struct FaultyRun {
  explicit FaultyRun(SimLinkKind kind, int failAt = -1, Fault fault = Fault::Silence)
      : h(kind), injector(h.connectionId, h.view) {
    injector.failAt = failAt;
    injector.fault = fault;
    h.steppingClock.stepMs = 1;  // with the link closed nothing else moves the clock
    if (kind == SimLinkKind::Usb) {
      usb = std::make_unique<UsbLink>(d2xx);
      EXPECT_TRUE(usb->OpenByIndex(0, 38400, 0, 0, 8));
    }
    link = std::make_unique<LinkIo>(h.connectionId, serial, usb ? *usb : h.usb, h.view,
                                    h.steppingClock);
    outcome = FlashTransfer(image, *link, h.view, h.steppingClock);
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
  FaultySerialPort serial{h.serial, h.clock, injector};
  FaultyD2xx d2xx{h.d2xx, h.clock, injector};
  std::unique_ptr<UsbLink> usb;
  std::unique_ptr<LinkIo> link;
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
