#include "sim/trace_replay.h"

#include <charconv>

namespace loadwing::sim {

namespace {

constexpr std::string_view kHeader = "# loadwing trace 1";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The next space-separated field of line, taken off its front.
std::string_view Field(std::string_view& line) {
  const std::size_t end = line.find(' ');
  const std::string_view field = line.substr(0, end);
  line = end == std::string_view::npos ? std::string_view() : line.substr(end + 1);
  return field;
}

bool Number(std::string_view text, std::int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

}  // namespace

std::optional<ReplayScript> ParseTrace(std::string_view text, std::string& error) {
  if (text.size() > kMaxTraceBytes) {
    error = "larger than a trace can be";
    return std::nullopt;
  }
  ReplayScript script;
  std::int64_t lastTime = 0;
  std::int64_t lastWrite = 0;
  bool answering = false;  // the current step has begun its answer
  std::uint32_t number = 0;
  ReplayStep step;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const auto fail = [&](const std::string& why) {
      error = "line " + std::to_string(number) + ": " + why;
      return std::nullopt;
    };
    if (line.size() > kMaxTraceLineBytes) return fail("too long");
    if (number == 1) {
      if (line != kHeader)
        return fail("not a loadwing trace (no \"" + std::string(kHeader) + "\")");
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    std::int64_t time = 0;
    if (!Number(Field(line), time)) return fail("no time in microseconds at its start");
    if (time < lastTime) return fail("the time goes backwards");
    lastTime = time;
    const std::string_view word = Field(line);
    if (word != "write" && word != "read") continue;
    std::int64_t count = 0;
    if (!Number(Field(line), count)) return fail("no byte count");
    const std::string_view hex = Field(line);
    if (!line.empty() || static_cast<std::int64_t>(hex.size()) != 2 * count || count == 0) {
      return fail("the bytes do not match their count");
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      const int high = HexDigit(hex[i]);
      const int low = HexDigit(hex[i + 1]);
      if (high < 0 || low < 0) return fail("not hexadecimal");
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    if (word == "write") {
      if (answering) {
        script.steps.push_back(std::move(step));
        step = ReplayStep{};
        answering = false;
      }
      step.expect.insert(step.expect.end(), bytes.begin(), bytes.end());
      step.expectLines.insert(step.expectLines.end(), bytes.size(), number);
      lastWrite = time;
    } else {
      if (!answering) step.delayUs = time - lastWrite;
      answering = true;
      step.answer.insert(step.answer.end(), bytes.begin(), bytes.end());
    }
  }
  if (number == 0) {
    error = "empty";
    return std::nullopt;
  }
  if (!step.expect.empty() || !step.answer.empty()) script.steps.push_back(std::move(step));
  return script;
}

void ReplayMachine::TakeDue(std::vector<ReplayAnswer>& out) {
  while (step_ < script_.steps.size() && offset_ == script_.steps[step_].expect.size()) {
    const ReplayStep& step = script_.steps[step_];
    if (!step.answer.empty()) out.push_back({step.delayUs, step.answer});
    ++step_;
    offset_ = 0;
  }
}

std::vector<ReplayAnswer> ReplayMachine::Start() {
  std::vector<ReplayAnswer> out;
  TakeDue(out);
  return out;
}

std::vector<ReplayAnswer> ReplayMachine::Feed(const std::uint8_t* data, std::size_t n) {
  std::vector<ReplayAnswer> out;
  for (std::size_t i = 0; i < n; ++i) {
    if (mismatch_) return out;
    if (Finished()) {
      surplus_ += n - i;
      return out;
    }
    const ReplayStep& step = script_.steps[step_];
    if (data[i] != step.expect[offset_]) {
      mismatch_ = ReplayMismatch{step.expectLines[offset_], step.expect[offset_], data[i]};
      return out;
    }
    ++offset_;
    TakeDue(out);
  }
  return out;
}

}  // namespace loadwing::sim
