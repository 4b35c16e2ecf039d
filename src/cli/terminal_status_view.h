#pragma once
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "cli/terminal_text.h"
#include "core/status_view.h"
#include "flash/flash_transfer.h"

namespace loadwing::cli {

// The status line and progress bar of the dialog, on a terminal.
//  * Lines: every status text shown becomes one line on err (repeats of the same text are
//    shown once); progress is a line at each quarter of the bar's range.
//  * Bar: the same lines, plus a progress bar redrawn in place on err (for terminals).
//  * Json: one JSON event per line on out, status texts and progress (at most one progress
//    event per throttle interval, but always the first and the return to 0); nothing on err.
class TerminalStatusView final : public StatusView {
 public:
  enum class Mode { Lines, Bar, Json };
  // Milliseconds of a monotonic clock; only the JSON progress throttle reads it.
  using MillisFn = std::function<std::int64_t()>;
  static constexpr std::int64_t kProgressThrottleMs = 100;

  TerminalStatusView(std::ostream& out, std::ostream& err, Mode mode, MillisFn millis = {});

  // Follows a transfer's position: progress is then labelled by what is waited for, and the
  // block count shown is the blocks acknowledged, so that the bar ends full.
  void Follow(const FlashPosition* position) { position_ = position; }

  void SetStatusText(std::string text) override { statusText_ = std::move(text); }
  const std::string& StatusText() const override { return statusText_; }
  void RefreshFields() override;
  void UpdateNow() override {}
  void SetProgressRange(std::uint32_t max) override;
  void SetProgressPos(std::int32_t pos) override;
  void EnableControls(bool) override {}
  void PumpMessages() override {}

  // Speed of the block phase, so that a person can plan by it and a slow adapter shows itself:
  // StartBlockRate when the blocks begin, NoteBlocks after each acknowledgement, EndBlockRate
  // when they are over. While known, the figures go with every progress report.
  void StartBlockRate();
  void NoteBlocks(std::uint32_t acknowledged, std::uint32_t blocks);
  void EndBlockRate() { rate_ = {}; }

  struct BlockRate {
    bool known = false;
    double bytesPerSecond = 0;  // image bytes acknowledged per second
    double secondsLeft = 0;     // at that speed
    double lineShare = 0;       // of the line's 38400 baud (frame and acknowledgement, 10 bits)
  };
  // " 2950 B/s, 11 s left, 77% of 38400 baud", empty while not known.
  std::string RateText() const;

  // Takes the bar off the screen and leaves the cursor at the start of an empty line, so that
  // whatever is printed next (a final text, an error, the shell prompt) starts cleanly.
  void Finish();
  // The last status text put on the terminal, empty when none was.
  const std::string& LastShown() const { return lastShown_; }
  bool BarVisible() const { return barVisible_; }

 private:
  void DrawBar();
  void ClearBar();
  // The position shown for pos, and what it counts.
  std::int32_t Shown(std::int32_t pos) const;
  const char* Label() const;
  const char* StageName() const;

  std::ostream& out_;
  std::ostream& err_;
  Mode mode_;
  MillisFn millis_;
  std::string statusText_;
  std::string lastShown_;
  std::uint16_t max_ = 100;
  std::int32_t pos_ = 0;
  bool barVisible_ = false;
  int lastQuarter_ = 0;
  bool progressSent_ = false;
  std::int32_t lastSentPos_ = 0;
  std::int64_t lastSentAt_ = 0;
  const FlashPosition* position_ = nullptr;
  std::int64_t rateStartMs_ = -1;
  BlockRate rate_;
};

}  // namespace loadwing::cli
