#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace loadwing::sim {

// A trace is outside input: it is refused beyond these bounds.
inline constexpr std::size_t kMaxTraceBytes = 64u << 20;
inline constexpr std::size_t kMaxTraceLineBytes = 4096;

// One exchange of a recorded link: what the loader sent, then what the machine answered and how
// long after the last byte it had received.
struct ReplayStep {
  std::vector<std::uint8_t> expect;
  std::vector<std::uint32_t> expectLines;  // the trace line of each expected byte
  std::vector<std::uint8_t> answer;
  std::int64_t delayUs = 0;
};

struct ReplayScript {
  std::vector<ReplayStep> steps;
};

// Reads the machine's side out of a trace's text ("# loadwing trace 1", then
// "<microseconds> <word> ..." lines). Only write and read lines matter here; other words are
// passed over. Empty with error set ("line 12: ...") when the text is not a trace.
std::optional<ReplayScript> ParseTrace(std::string_view text, std::string& error);

// Where the loader now sends something other than the trace shows.
struct ReplayMismatch {
  std::uint32_t line = 0;  // the trace line of the byte expected
  std::uint8_t expected = 0;
  std::uint8_t got = 0;
};

struct ReplayAnswer {
  std::int64_t delayUs = 0;  // after the last byte that made it due
  std::vector<std::uint8_t> bytes;
};

// Plays the machine of a trace: fed what the loader sends, returns the recorded answers as they
// become due. After a mismatch it answers nothing more, as the recorded machine had no answer to
// what is sent now.
class ReplayMachine {
 public:
  explicit ReplayMachine(ReplayScript script) : script_(std::move(script)) {}

  // Answers the trace shows before the loader sent anything.
  std::vector<ReplayAnswer> Start();
  std::vector<ReplayAnswer> Feed(const std::uint8_t* data, std::size_t n);

  const std::optional<ReplayMismatch>& Mismatch() const { return mismatch_; }
  // Every recorded exchange has been played.
  bool Finished() const { return step_ >= script_.steps.size(); }
  // Bytes received beyond the end of the trace.
  std::uint64_t Surplus() const { return surplus_; }

 private:
  void TakeDue(std::vector<ReplayAnswer>& out);

  ReplayScript script_;
  std::size_t step_ = 0;
  std::size_t offset_ = 0;  // into the step's expected bytes
  std::optional<ReplayMismatch> mismatch_;
  std::uint64_t surplus_ = 0;
};

}  // namespace loadwing::sim
