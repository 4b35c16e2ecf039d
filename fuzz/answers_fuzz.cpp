// The whole transfer against a machine whose answers are the fuzz input. Read call by read call
// (a serial ReadFile, or a queue poll of the cable) the input decides what arrives: bytes, the
// right next answer byte, silence for a while, a failing or short write, or the link closing as a
// device change closes it. Whatever arrives, the transfer must end with one of its outcome texts,
// the controls enabled and the bar at 0, the image unchanged, nothing sent that the dialogue does
// not allow, and within its time limits on the fake clock.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_d2xx.h"
#include "fakes/fake_serial_port.h"
#include "fakes/fake_status_view.h"
#include "fakes/link_faults.h"
#include "flash/block_frame.h"
#include "flash/check_byte.h"
#include "flash/flash_transfer.h"
#include "fuzz_image.h"
#include "link/connection.h"
#include "link/d2xx.h"
#include "link/link_io.h"
#include "link/serial_port.h"
#include "link/usb_link.h"

using namespace loadwing;
using testing::FakeClock;
using testing::FakeD2xx;
using testing::FakeSerialPort;
using testing::FakeStatusView;
using testing::LinkCall;
using testing::LinkFault;
using testing::LinkFaults;

namespace {

// Stops the run where an invariant fails, naming the line, so libFuzzer keeps the input.
void Check(bool condition, int line) {
  if (condition) return;
  std::fprintf(stderr, "answers_fuzz: check at line %d failed\n", line);
  std::abort();
}
#define Require(condition) Check((condition), __LINE__)

// Costs on the fake clock: a silent one-byte serial read gives up after its 15 ms time limit; an
// empty queue poll of the cable is taken as 1 ms (the fake driver's own cost); every clock
// reading moves it 1 ms, so that the waits also end with no link open, where nothing else moves
// it.
constexpr int kSerialSilentReadMs = 15;
constexpr int kClockStepMs = 1;

// Time bounds. A wait with a limit of L whole seconds goes on while elapsed <= L, so it lasts at
// most L + 1 seconds, plus the one read that was under way and the clock's own steps (slack).
// Each exchange begins with a drain, which a babbling line can hold for its 2 s limit + 1.
constexpr std::int64_t kSlackMs = 100;
constexpr std::int64_t kDrainMs = 3000 + kSlackMs;
constexpr std::int64_t kQueryMs = 21000 + kDrainMs + 4000 + kSlackMs;  // last attempt + its wait
constexpr std::int64_t kBlockMs = kDrainMs + 21000 + kSlackMs;         // drain + acknowledgement
constexpr std::int64_t kVerdictMs = kDrainMs + 41000 + kSlackMs;       // drain + verdict

enum class Phase { Query, Blocks, Verdict };

// What the host put on the wire, one entry per WriteBytes (a purge on serial, or one FT_Write).
struct Exchange {
  Phase phase;
  std::vector<std::uint8_t> bytes;
};

// The phase the transfer's own display says it is in.
Phase PhaseOf(const FakeStatusView& view) {
  const int last = view.LastShownOf({" flash: start...", " flash: wait for success message..."});
  return last == 0 ? Phase::Blocks : last == 1 ? Phase::Verdict : Phase::Query;
}

// The fuzz input, consumed from the front; once it is used up, the line stays silent.
class Script {
 public:
  Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Next() { return Empty() ? 0 : data_[at_++]; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The machine's side of the line and everything the harness watches.
class Line {
 public:
  Line(Script& script, ConnectionId& connectionId, const FlashTargetInfo& info,
       const FakeStatusView& view, std::deque<std::uint8_t>& queue)
      : incoming(queue), script_(script), connectionId_(connectionId), info_(info), view_(view) {}

  // Called once for each read opportunity: the input decides what happens on the line.
  void Act() {
    if (closed) return;
    if (silentReads_ > 0) {
      --silentReads_;
      return;
    }
    if (script_.Empty()) return;
    const std::uint8_t op = script_.Next();
    switch (op % 8) {
      case 0:
      case 1:
        incoming.push_back(script_.Next());
        break;
      case 2:
      case 3:
        incoming.push_back(ExpectedByte());
        break;
      case 4: {
        const int n = script_.Next() % 16;
        for (int i = 0; i < n; ++i) incoming.push_back(script_.Next());
        break;
      }
      case 5:
        // Silence for up to 16 s, made of ordinary silent reads.
        silentReads_ = script_.Next() * (serial ? 4 : 64);
        break;
      case 6: {
        const std::uint8_t how = script_.Next();
        if (how & 1) {
          failNextWrite_ = true;
        } else {
          shortNextWrite_ = how >> 1;
        }
        break;
      }
      case 7:
        // A device change closed the link: the connection id is 0 and the port is gone.
        closed = true;
        closedIn = PhaseOf(view_);
        closedAtExchange = exchanges.size();
        connectionId_ = kNoConnection;
        incoming.clear();
        break;
    }
  }

  // A write reaching the line: what becomes of it, as the input has decided.
  LinkFault WriteFault(LinkFaults& faults) {
    Require(!closed);  // nothing may go out once the link is closed
    ++writeCalls;
    if (failNextWrite_) {
      failNextWrite_ = false;
      return LinkFault::Fail;
    }
    if (shortNextWrite_ >= 0) {
      faults.partialBytes = static_cast<std::uint32_t>(shortNextWrite_);
      shortNextWrite_ = -1;
      return LinkFault::Partial;
    }
    return LinkFault::None;
  }
  // The bytes a write put on the line.
  void Record(const std::uint8_t* data, std::uint32_t n) {
    if (exchanges.empty()) BeginExchange();
    exchanges.back().bytes.insert(exchanges.back().bytes.end(), data, data + n);
  }
  void BeginExchange() {
    exchanges.push_back({PhaseOf(view_), {}});
    answerAt_ = 0;
  }

  std::deque<std::uint8_t>& incoming;  // the fake link's queue of bytes for the host
  std::vector<Exchange> exchanges;
  bool serial = true;
  bool closed = false;
  Phase closedIn = Phase::Query;
  std::size_t closedAtExchange = 0;
  int writeCalls = 0;

 private:
  // The next byte of the answer the transfer waits for, so that the input reaches the later
  // phases without having to spell out every answer.
  std::uint8_t ExpectedByte() {
    switch (PhaseOf(view_)) {
      case Phase::Query:
        return static_cast<std::uint8_t>(info_.readyAnswer[answerAt_++ % 6]);
      case Phase::Blocks:
        return '1';
      case Phase::Verdict:
        return static_cast<std::uint8_t>("SUCCES"[answerAt_++ % 6]);
    }
    return 0;
  }

  Script& script_;
  ConnectionId& connectionId_;
  const FlashTargetInfo& info_;
  const FakeStatusView& view_;
  int silentReads_ = 0;
  bool failNextWrite_ = false;
  int shortNextWrite_ = -1;
  std::size_t answerAt_ = 0;
};

// The fake serial port with the line at its far end: a purge begins an exchange, each read
// lets the input act, and a device change closes the port.
void WireSerial(FakeSerialPort& port, Line& line) {
  port.open = true;
  port.silentReadCostMs = kSerialSilentReadMs;
  port.faults.before = [&port, &line](LinkCall call, std::uint32_t n) {
    switch (call) {
      case LinkCall::Purge:
        Require(!line.closed);
        line.BeginExchange();  // WriteBytes purges before each write on the serial port
        return LinkFault::None;
      case LinkCall::Read:
        Require(n >= 1);
        line.Act();
        return line.closed ? LinkFault::Close : LinkFault::None;
      case LinkCall::Write:
        Require(n >= 1 && n <= LinkIo::kSerialWriteChunk);
        return line.WriteFault(port.faults);
      case LinkCall::QueueStatus:
        break;
    }
    return LinkFault::None;
  };
  port.onWrite = [&line](const std::uint8_t* data, std::uint32_t n) { line.Record(data, n); };
}

// The fake driver with the maker's cable and the line at its far end: each queue poll
// lets the input act; the cable takes each WriteBytes in one call.
void WireCable(FakeD2xx& d2xx, Line& line) {
  d2xx.logCalls = false;
  d2xx.faults.before = [&d2xx, &line](LinkCall call, std::uint32_t) {
    switch (call) {
      case LinkCall::QueueStatus:
        Require(!line.closed);
        line.Act();
        break;
      case LinkCall::Read:
        Require(!line.closed);
        break;
      case LinkCall::Write:
        line.BeginExchange();
        return line.WriteFault(d2xx.faults);
      case LinkCall::Purge:
        break;
    }
    return LinkFault::None;
  };
  d2xx.onWrite = [&line](FakeD2xx::Device&, const std::uint8_t* data, std::uint32_t n) {
    line.Record(data, n);
  };
}

const FirmwareTarget kTargets[] = {
    FirmwareTarget::WebC,    FirmwareTarget::FanfolderCrossfolder,
    FirmwareTarget::Module0, FirmwareTarget::Module3,
    FirmwareTarget::Module7, FirmwareTarget::CanModule,
};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The answer text after a prefix: at most six bytes, none of them zero.
bool IsAnswerText(const std::string& text, std::size_t from) {
  const std::size_t n = text.size() - from;
  return n <= 6 && text.find('\0', from) == std::string::npos;
}

// The status text says what the outcome says.
bool TextFits(FlashOutcome outcome, const std::string& text) {
  switch (outcome) {
    case FlashOutcome::Completed:
      return text == " flash: completed";
    case FlashOutcome::NoAnswer:
      return text == " flash: no answer";
    case FlashOutcome::UnexpectedAnswer: {
      const std::string prefix = " flash: unexpected answer ";
      // An answer that begins with a zero byte shows as nothing after the prefix.
      return StartsWith(text, prefix) && IsAnswerText(text, prefix.size());
    }
    case FlashOutcome::EraseError: {
      const std::string prefix = " flash: erase error ";
      if (!StartsWith(text, prefix) || text.size() < prefix.size() + 2) return false;
      const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
      return hex(text[prefix.size()]) && hex(text[prefix.size() + 1]) &&
             text.size() <= prefix.size() + 3;
    }
    case FlashOutcome::WriteError:
      return text == " Write COM: write error";
    case FlashOutcome::NoAnswerWhileFlashing:
      return text == " flash: no answer while flashing";
    case FlashOutcome::ErrorWhileFlashing:
      return text == " flash: error while flashing";
    case FlashOutcome::NoAnswerAfterFlashing:
      return text == " flash: no answer after flashing";
    case FlashOutcome::CrcError:
      return text == " flash: crc error, DATA INVALID";
    case FlashOutcome::NoSuccess: {
      const std::string prefix = " flash: no success, returncode: ";
      return StartsWith(text, prefix) && IsAnswerText(text, prefix.size()) &&
             text != prefix + "SUCCES" && text != prefix + "CSFAIL";
    }
    case FlashOutcome::NotStarted:
    case FlashOutcome::Cancelled:  // the harness never asks it to stop
      return false;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  Script script(data, size);
  const std::uint8_t setup = script.Next();
  const bool serial = (setup & 0x80) == 0;
  const FirmwareTarget target = kTargets[(setup & 0x7F) % std::size(kTargets)];
  const FlashTargetInfo& info = *FindFlashTargetInfo(target);
  const std::uint32_t blocks = info.imageSize / kBlockDataSize;

  static auto* image = new FirmwareImage;
  static auto* original = new FirmwareImage;
  {
    std::uint32_t x = script.Next() * 2654435761u + 1u;
    for (std::uint8_t& b : image->data) {
      x = x * 1664525u + 1013904223u;
      b = static_cast<std::uint8_t>(x >> 24);
    }
  }
  image->target = target;
  *original = *image;

  // Any second of the clock and any millisecond within it.
  FakeClock clock(1'700'000'000 + script.Next());
  clock.AdvanceMs(script.Next() * 4);
  ConnectionId connectionId = serial ? SerialConnection(3) : kUsbConnection;
  FakeStatusView view;
  std::vector<std::int64_t> shownAtMs;  // the clock's time at each text shown
  view.onRefresh = [&] { shownAtMs.push_back(clock.Millis()); };
  FakeSerialPort port(&clock);
  FakeD2xx d2xx(&clock);
  d2xx.devices.push_back({kUsbCableDescription, {}, {}, false});
  Line line(script, connectionId, info, view,
            serial ? port.incoming : d2xx.devices.front().incoming);
  line.serial = serial;
  if (serial) {
    WireSerial(port, line);
  } else {
    WireCable(d2xx, line);
  }
  UsbLink usb(d2xx);
  if (!serial) Require(usb.OpenByIndex(0, 38400, 0, 0, 8));
  LinkIo link(connectionId, port, usb, view, clock);

  const std::int64_t startSecondMs = clock.Now() * 1000;
  clock.stepMsPerRead = kClockStepMs;
  const FlashOutcome outcome = FlashTransfer(*image, link, view, clock);
  const std::int64_t endMs = clock.Millis();

  static const bool trace = std::getenv("ANSWERS_FUZZ_TRACE") != nullptr;
  if (trace) {
    std::fprintf(stderr, "answers_fuzz: %s, %zu writes, %lld ms:%s\n", serial ? "serial" : "cable",
                 line.exchanges.size(), static_cast<long long>(endMs - startSecondMs),
                 view.statusText.c_str());
  }

  // Ended, and said so.
  Require(TextFits(outcome, view.statusText));
  Require(view.enableCalls == std::vector<bool>({false, true}));
  Require(view.progressPos == 0);
  Require(image->target == original->target && image->data == original->data);
  Require(serial || outcome != FlashOutcome::WriteError);  // a cable write failure is not seen

  // On the wire: requests, then frames of the image in order, then at most one check byte.
  const std::vector<Exchange>& ex = line.exchanges;
  std::size_t i = 0;
  for (; i < ex.size() && ex[i].phase == Phase::Query; ++i) {
    Require(ex[i].bytes.size() <= 3);
    Require(std::equal(ex[i].bytes.begin(), ex[i].bytes.end(), info.requestCode));
  }
  ImageCheckByte check;
  std::uint32_t frames = 0;
  for (; i < ex.size() && ex[i].phase == Phase::Blocks; ++i, ++frames) {
    Require(frames < blocks);
    BlockFrame frame;
    frame.Build(original->data.data() + frames * kBlockDataSize, check);
    Require(ex[i].bytes.size() <= kBlockFrameSize);
    Require(std::equal(ex[i].bytes.begin(), ex[i].bytes.end(), frame.bytes.begin()));
    // Only a failed write leaves a frame cut short, and it ends the transfer.
    // On the cable a failed write goes unseen and the transfer waits for its answer.
    if (serial && ex[i].bytes.size() < kBlockFrameSize) {
      Require(outcome == FlashOutcome::WriteError && i + 1 == ex.size());
    }
  }
  const bool checkByteSent = i < ex.size();
  if (checkByteSent) {
    Require(ex[i].phase == Phase::Verdict && frames == blocks && i + 1 == ex.size());
    Require(ex[i].bytes.size() <= 1);
    Require(ex[i].bytes.empty() || ex[i].bytes[0] == check.value());
    Require(ex[i].bytes.size() == 1 || outcome == FlashOutcome::WriteError || !serial);
  }

  // The outcome belongs to the phase the transfer showed last, and the wire agrees. With the
  // link closed nothing more goes out, so a phase may end without its first write.
  const bool closed = line.closed;
  const Phase phase = PhaseOf(view);
  switch (outcome) {
    case FlashOutcome::NoAnswer:
    case FlashOutcome::UnexpectedAnswer:
    case FlashOutcome::EraseError:
      Require(phase == Phase::Query && frames == 0);
      break;
    case FlashOutcome::NoAnswerWhileFlashing:
    case FlashOutcome::ErrorWhileFlashing:
      Require(phase == Phase::Blocks && !checkByteSent && (frames >= 1 || closed));
      break;
    case FlashOutcome::WriteError:
      Require(!closed);
      break;
    case FlashOutcome::NoAnswerAfterFlashing:
    case FlashOutcome::CrcError:
    case FlashOutcome::NoSuccess:
    case FlashOutcome::Completed:
      Require(phase == Phase::Verdict && (checkByteSent || closed) && (frames == blocks || closed));
      break;
    case FlashOutcome::NotStarted:
    case FlashOutcome::Cancelled:  // the harness never asks it to stop
      Require(false);
  }
  // A closed link ends the phase it closed in with that phase's no-answer text, or with what
  // had arrived before it closed.
  if (closed) {
    Require(ex.size() == line.closedAtExchange);
    Require(line.closedIn == phase);
    switch (line.closedIn) {
      case Phase::Query:
        Require(outcome == FlashOutcome::NoAnswer || outcome == FlashOutcome::EraseError ||
                outcome == FlashOutcome::UnexpectedAnswer);
        break;
      case Phase::Blocks:
        Require(outcome == FlashOutcome::NoAnswerWhileFlashing);
        break;
      case Phase::Verdict:
        Require(outcome == FlashOutcome::NoAnswerAfterFlashing ||
                outcome == FlashOutcome::NoSuccess);
        break;
    }
  }

  // Time: from the start second to the block phase, from one accepted block to the next, from
  // the check byte to the end, and the whole transfer within the bound its blocks give.
  std::int64_t since = startSecondMs;
  std::int64_t limit = kQueryMs;
  for (std::size_t k = 0; k < view.shown.size(); ++k) {
    const std::int64_t ms = shownAtMs[k];
    if (view.shown[k] == " flash: start...") {
      Require(ms - since <= limit);
      since = ms;
      limit = kBlockMs;
    } else if (view.shown[k] == " flash: wait for success message...") {
      Require(ms - since <= limit);
      since = ms;
      limit = kVerdictMs;
    }
  }
  Require(endMs - since <= limit);
  const std::int64_t bound = kQueryMs + static_cast<std::int64_t>(blocks) * kBlockMs + kVerdictMs;
  Require(endMs - startSecondMs <= bound);
  return 0;
}

#ifdef LOADWING_ANSWERS_SEEDS
// Writes the seed corpus: one input for each way a transfer ends, on both links.
#include <fstream>

namespace {

enum Op : std::uint8_t {
  kByte = 0,
  kExpected = 2,
  kBurst = 4,
  kSilence = 5,
  kWrite = 6,
  kClose = 7
};

// setup byte: bit 7 the cable, the rest picks the target (0 WebC, 1 main controller, 3 module 3,
// 5 CAN module); then the image seed, the clock's second and milliseconds.
std::vector<std::uint8_t> Start(std::uint8_t setup) {
  return {setup, 1, 0, 0};
}
// One silent read: the drain before each exchange ends on it.
void Quiet(std::vector<std::uint8_t>& s) {
  s.insert(s.end(), {kSilence, 0});
}
void Expected(std::vector<std::uint8_t>& s, int n) {
  for (int k = 0; k < n; ++k) s.push_back(kExpected);
}
void Literal(std::vector<std::uint8_t>& s, const std::string& text) {
  for (char c : text) s.insert(s.end(), {kByte, static_cast<std::uint8_t>(c)});
}
// Ready answer, then blocks acknowledged.
std::vector<std::uint8_t> Through(std::uint8_t setup, std::uint32_t acknowledged) {
  std::vector<std::uint8_t> s = Start(setup);
  Quiet(s);
  Expected(s, 6);
  for (std::uint32_t k = 0; k < acknowledged; ++k) {
    Quiet(s);
    Expected(s, 1);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  const auto write = [&dir](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return out.good();
  };
  bool ok = true;
  for (std::uint8_t link : {0x00, 0x80}) {
    const std::string suffix = link ? "_usb" : "_serial";
    std::vector<std::uint8_t> s = Through(link | 3, 128);
    Quiet(s);
    Expected(s, 6);
    ok &= write("completed" + suffix, s);

    s = Through(link | 5, 128);
    Quiet(s);
    Literal(s, "CSFAIL");
    ok &= write("crc_error" + suffix, s);

    s = Through(link | 3, 128);
    Quiet(s);
    Literal(s, "ERR");
    ok &= write("return_code" + suffix, s);

    s = Start(link | 0);
    Quiet(s);
    Literal(s,
            "128E\x0A"
            "X");
    ok &= write("erase_error" + suffix, s);

    s = Start(link | 1);
    Quiet(s);
    Literal(s, "128OK1");
    ok &= write("unexpected" + suffix, s);

    ok &= write("silent" + suffix, Start(link | 3));

    s = Through(link | 1, 5);
    Quiet(s);
    Literal(s, "0");
    ok &= write("refused_block" + suffix, s);

    s = Through(link | 3, 7);
    s.push_back(kClose);
    ok &= write("closed_in_blocks" + suffix, s);

    s = Start(link | 3);
    s.insert(s.end(), {kWrite, 1});
    Quiet(s);
    Expected(s, 6);
    Quiet(s);
    s.insert(s.end(), {kWrite, 40, kSilence, 0, kBurst, 3, '1', '1', '1'});
    ok &= write("write_faults" + suffix, s);
  }
  return ok ? 0 : 1;
}
#endif
