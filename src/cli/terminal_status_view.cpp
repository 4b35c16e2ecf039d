#include "cli/terminal_status_view.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "core/json.h"

namespace loadwing::cli {

namespace {

constexpr int kBarWidth = 40;
// The line: 38400 baud, 10 bits a byte; each block is a 257-byte frame and a 1-byte answer.
constexpr double kLineBaud = 38400;
constexpr double kLineBytesPerBlock = 258;
constexpr double kImageBytesPerBlock = 256;

std::int64_t SteadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TerminalStatusView::TerminalStatusView(std::ostream& out, std::ostream& err, Mode mode,
                                       MillisFn millis)
    : out_(out), err_(err), mode_(mode), millis_(millis ? std::move(millis) : SteadyMillis) {}

void TerminalStatusView::RefreshFields() {
  if (statusText_.empty() || statusText_ == lastShown_) return;
  lastShown_ = statusText_;
  if (mode_ == Mode::Json) {
    out_ << JsonObject().Add("event", "status").Add("text", statusText_).str() << std::endl;
    return;
  }
  const bool redraw = barVisible_;
  ClearBar();
  err_ << TerminalText(statusText_) << std::endl;
  if (redraw) DrawBar();
}

void TerminalStatusView::SetProgressRange(std::uint32_t max) {
  // As the progress bar does: only the low 16 bits count.
  max_ = static_cast<std::uint16_t>(max & 0xFFFFu);
  lastQuarter_ = 0;
  // A new range is a new phase: its first position is always reported, and the old bar, which
  // measured something else, leaves the screen.
  progressSent_ = false;
  pos_ = -1;
  ClearBar();
}

std::int32_t TerminalStatusView::Shown(std::int32_t pos) const {
  // The transfer moves the bar to block k once block k is acknowledged: k + 1 are written.
  if (pos > 0 && position_ != nullptr && position_->stage == FlashStage::Blocks) {
    return static_cast<std::int32_t>(position_->blocksAcknowledged);
  }
  return pos;
}

const char* TerminalStatusView::Label() const {
  if (position_ == nullptr) return "";
  switch (position_->stage) {
    case FlashStage::Request:
      return " s waiting for the machine to say ready";
    case FlashStage::Blocks:
      return " blocks";
    case FlashStage::Verdict:
    case FlashStage::Done:
      return " s waiting for the verdict";
  }
  return "";
}

const char* TerminalStatusView::StageName() const {
  if (position_ == nullptr) return "";
  switch (position_->stage) {
    case FlashStage::Request:
      return "request";
    case FlashStage::Blocks:
      return "blocks";
    case FlashStage::Verdict:
    case FlashStage::Done:
      return "verdict";
  }
  return "";
}

void TerminalStatusView::SetProgressPos(std::int32_t rawPos) {
  const std::int32_t pos = Shown(rawPos);
  if (pos == pos_ && mode_ != Mode::Json) return;
  pos_ = pos;
  switch (mode_) {
    case Mode::Bar:
      // Position 0 ends every phase; the bar leaves the screen until there is progress again.
      if (pos <= 0)
        ClearBar();
      else
        DrawBar();
      break;
    case Mode::Lines: {
      if (max_ == 0 || pos <= 0) {
        lastQuarter_ = 0;
        break;
      }
      const int quarter = static_cast<int>(std::min<std::int64_t>(4, pos * 4LL / max_));
      if (quarter > lastQuarter_) {
        lastQuarter_ = quarter;
        err_ << "  progress " << pos << "/" << max_ << Label();
        if (rate_.known) err_ << " (" << RateText().substr(1) << ")";
        err_ << std::endl;
      }
      break;
    }
    case Mode::Json: {
      if (progressSent_ && pos == lastSentPos_) break;
      const std::int64_t now = millis_();
      // The first position, the return to 0 and the end of the range are never held back.
      const bool due =
          !progressSent_ || pos == 0 || pos + 1 >= max_ || now - lastSentAt_ >= kProgressThrottleMs;
      if (!due) break;
      JsonObject event;
      event.Add("event", "progress");
      if (position_ != nullptr) event.Add("stage", StageName());
      event.Add("pos", static_cast<std::int64_t>(pos)).Add("max", static_cast<std::int64_t>(max_));
      if (rate_.known) {
        event.Add("bytesPerSecond", static_cast<std::int64_t>(rate_.bytesPerSecond + 0.5))
            .Add("secondsLeft", static_cast<std::int64_t>(rate_.secondsLeft + 0.5))
            .Add("linePercent", static_cast<std::int64_t>(rate_.lineShare * 100 + 0.5));
      }
      out_ << event.str() << std::endl;
      progressSent_ = true;
      lastSentPos_ = pos;
      lastSentAt_ = now;
      break;
    }
  }
}

void TerminalStatusView::DrawBar() {
  const std::int64_t max = max_ == 0 ? 1 : max_;
  const std::int64_t pos = std::clamp<std::int64_t>(pos_, 0, max);
  const int filled = static_cast<int>(pos * kBarWidth / max);
  err_ << "\r  [" << std::string(static_cast<std::size_t>(filled), '#')
       << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << pos << "/"
       << max << Label() << RateText() << "\x1b[K" << std::flush;
  barVisible_ = true;
}

void TerminalStatusView::ClearBar() {
  if (!barVisible_) return;
  err_ << "\r\x1b[K" << std::flush;
  barVisible_ = false;
}

void TerminalStatusView::StartBlockRate() {
  rate_ = {};
  rateStartMs_ = millis_();
}

void TerminalStatusView::NoteBlocks(std::uint32_t acknowledged, std::uint32_t blocks) {
  if (rateStartMs_ < 0) return;
  const double seconds = static_cast<double>(millis_() - rateStartMs_) / 1000.0;
  if (seconds <= 0 || acknowledged == 0) return;
  rate_.known = true;
  rate_.bytesPerSecond = acknowledged * kImageBytesPerBlock / seconds;
  rate_.secondsLeft = (blocks > acknowledged ? blocks - acknowledged : 0) * seconds / acknowledged;
  rate_.lineShare = acknowledged * kLineBytesPerBlock * 10 / (seconds * kLineBaud);
}

std::string TerminalStatusView::RateText() const {
  if (!rate_.known) return {};
  char text[96];
  std::snprintf(text, sizeof text, " %.0f B/s, %.0f s left, %.0f%% of 38400 baud",
                rate_.bytesPerSecond, rate_.secondsLeft, rate_.lineShare * 100);
  return text;
}

void TerminalStatusView::Finish() {
  rate_ = {};
  rateStartMs_ = -1;
  if (mode_ == Mode::Bar) ClearBar();
}

}  // namespace loadwing::cli
