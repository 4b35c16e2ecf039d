#include "flash/flash_transfer.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "flash/block_frame.h"
#include "flash/check_byte.h"

namespace loadwing {

namespace {

// Query attempts begin while at most this many seconds have passed since the start.
constexpr std::int64_t kQueryLimitSeconds = 20;
constexpr std::int32_t kRequestAnswerLimit = 3;
constexpr std::int32_t kAcknowledgeLimit = 20;
constexpr std::int32_t kVerdictLimit = 40;
constexpr std::uint32_t kAnswerSize = 6;
// Cleared before each answer of up to six bytes, so that it always reads as a terminated text.
constexpr std::size_t kClearedAnswerBytes = 10;

constexpr char kSuccess[] = "SUCCES";
constexpr char kCrcFail[] = "CSFAIL";

// The received bytes up to the first zero byte, at most six.
std::string AnswerText(const std::uint8_t* answer) {
  std::size_t n = 0;
  while (n < kAnswerSize && answer[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(answer), n);
}

class Transfer {
 public:
  Transfer(const FirmwareImage& image, const FlashTargetInfo& info, LinkIo& link, StatusView& view,
           Clock& clock, FlashObserver& observer, FlashPosition& position)
      : image_(image),
        info_(info),
        link_(link),
        view_(view),
        clock_(clock),
        observer_(observer),
        position_(position) {}

  FlashOutcome Run() {
    position_ = FlashPosition{};
    position_.blockCount = info_.imageSize / kBlockDataSize;
    view_.EnableControls(false);
    ShowNow(" flash: query system...");
    observer_.PhaseStarted(FlashPhase::Query);
    const FlashOutcome outcome = QueryPhase();
    if (outcome == FlashOutcome::WriteError && writeEndedTransfer_) {
      // The link layer has shown the failure and put the bar to 0 already.
      view_.EnableControls(true);
    } else if (outcome == FlashOutcome::Cancelled) {
      // A text set but not shown yet (an attempt's " flash: no answer") is not the reason.
      view_.SetProgressPos(0);
      view_.EnableControls(true);
    } else {
      view_.SetProgressPos(0);
      view_.RefreshFields();
      view_.EnableControls(true);
    }
    return outcome;
  }

 private:
  void ShowNow(const char* text) {
    view_.SetStatusText(text);
    view_.ShowStatusNow();
  }
  void ClearAnswer() { std::memset(answer_.data(), 0, kClearedAnswerBytes); }

  FlashOutcome QueryPhase() {
    const std::int64_t start = clock_.Now();
    view_.SetProgressRange(static_cast<std::uint32_t>(kQueryLimitSeconds));
    view_.SetProgressPos(0);
    // Only reached without an attempt if the clock ran away at once.
    FlashOutcome last = FlashOutcome::NoAnswer;
    for (;;) {
      const std::int64_t elapsed = clock_.Now() - start;
      if (elapsed > kQueryLimitSeconds) return last;
      if (link_.Cancelled()) return FlashOutcome::Cancelled;
      view_.SetProgressPos(static_cast<std::int32_t>(elapsed));
      ClearAnswer();
      link_.DrainInput();
      if (!link_.WriteBytes(reinterpret_cast<const std::uint8_t*>(info_.requestCode), 3)) {
        // Already reported; the request is tried again while there is time.
        last = FlashOutcome::WriteError;
        continue;
      }
      const std::int32_t got = link_.ReadBytes(answer_.data(), kAnswerSize, kRequestAnswerLimit,
                                               /*showProgress=*/false);
      if (got == 0 && link_.Cancelled()) return FlashOutcome::Cancelled;
      // The texts set here stay unshown until the transfer ends.
      if (got == 0) {
        view_.SetStatusText(" flash: no answer");
        last = FlashOutcome::NoAnswer;
      } else if (std::memcmp(answer_.data(), info_.eraseErrorPrefix, 4) == 0) {
        SetEraseError();
        return FlashOutcome::EraseError;
      } else if (std::memcmp(answer_.data(), info_.readyAnswer, 6) == 0) {
        return BlockPhase();
      } else {
        view_.SetStatusText(" flash: unexpected answer " + AnswerText(answer_.data()));
        last = FlashOutcome::UnexpectedAnswer;
        link_.PumpMessages();
      }
    }
  }

  void SetEraseError() {
    char code[3];
    std::snprintf(code, sizeof code, "%02X", static_cast<unsigned>(answer_[4]));
    std::string text = std::string(" flash: erase error ") + code;
    // A missing sixth byte reads as the zero the buffer was cleared with: it ends the text.
    if (answer_[5] != 0) text += static_cast<char>(answer_[5]);
    view_.SetStatusText(text);
  }

  FlashOutcome BlockPhase() {
    position_.stage = FlashStage::Blocks;
    ShowNow(" flash: start...");
    observer_.PhaseStarted(FlashPhase::Blocks);
    view_.SetProgressRange(info_.imageSize / kBlockDataSize);
    view_.SetProgressPos(0);
    ImageCheckByte check;
    for (std::uint32_t offset = 0; offset < info_.imageSize; offset += kBlockDataSize) {
      // Checked before each block, so that a stop is known to fall between two blocks.
      if (link_.Cancelled()) return FlashOutcome::Cancelled;
      frame_.Build(image_.data.data() + offset, check);
      link_.DrainInput();
      if (!link_.WriteBytes(frame_.bytes.data(), kBlockFrameSize)) return WriteFailed();
      answer_[0] = 0;
      const std::int32_t got =
          link_.ReadBytes(answer_.data(), 1, kAcknowledgeLimit, /*showProgress=*/false);
      if (got == 0 && link_.Cancelled()) return FlashOutcome::Cancelled;
      if (got == 0) {
        view_.SetStatusText(" flash: no answer while flashing");
        return FlashOutcome::NoAnswerWhileFlashing;
      }
      if (answer_[0] != '1') {
        view_.SetStatusText(" flash: error while flashing");
        return FlashOutcome::ErrorWhileFlashing;
      }
      ++position_.blocksAcknowledged;
      observer_.BlockAcknowledged(offset / kBlockDataSize, info_.imageSize / kBlockDataSize);
      view_.SetProgressPos(static_cast<std::int32_t>(offset / kBlockDataSize));
      view_.RefreshFields();
    }
    position_.stage = FlashStage::Verdict;
    return VerdictPhase(check.value());
  }

  FlashOutcome VerdictPhase(std::uint8_t checkByte) {
    ShowNow(" flash: wait for success message...");
    observer_.PhaseStarted(FlashPhase::Verdict);
    link_.DrainInput();
    if (!link_.WriteBytes(&checkByte, 1)) return WriteFailed();
    ClearAnswer();
    const std::int32_t got =
        link_.ReadBytes(answer_.data(), kAnswerSize, kVerdictLimit, /*showProgress=*/true);
    if (got < 1 && link_.Cancelled()) return FlashOutcome::Cancelled;
    observer_.VerdictReceived(AnswerText(answer_.data()));
    if (got < 1) {
      view_.SetStatusText(" flash: no answer after flashing");
      return FlashOutcome::NoAnswerAfterFlashing;
    }
    position_.stage = FlashStage::Done;
    if (std::memcmp(answer_.data(), kCrcFail, kAnswerSize) == 0) {
      view_.SetStatusText(" flash: crc error, DATA INVALID");
      return FlashOutcome::CrcError;
    }
    if (std::memcmp(answer_.data(), kSuccess, kAnswerSize) != 0) {
      view_.SetStatusText(" flash: no success, returncode: " + AnswerText(answer_.data()));
      return FlashOutcome::NoSuccess;
    }
    view_.SetStatusText(" flash: completed");
    return FlashOutcome::Completed;
  }

  FlashOutcome WriteFailed() {
    writeEndedTransfer_ = true;
    return FlashOutcome::WriteError;
  }

  const FirmwareImage& image_;
  const FlashTargetInfo& info_;
  LinkIo& link_;
  StatusView& view_;
  Clock& clock_;
  FlashObserver& observer_;
  BlockFrame frame_;
  std::array<std::uint8_t, kClearedAnswerBytes> answer_{};
  bool writeEndedTransfer_ = false;
  FlashPosition& position_;
};

}  // namespace

FlashOutcome FlashTransfer(const FirmwareImage& image, LinkIo& link, StatusView& view, Clock& clock,
                           FlashObserver& observer, FlashPosition* position) {
  const FlashTargetInfo* info = FindFlashTargetInfo(image.target);
  // Nothing loaded (or a target outside the table): nothing is sent, nothing on screen changes.
  if (info == nullptr) return FlashOutcome::NotStarted;
  FlashPosition unused;
  return Transfer(image, *info, link, view, clock, observer,
                  position != nullptr ? *position : unused)
      .Run();
}

FlashOutcome FlashTransfer(const FirmwareImage& image, LinkIo& link, StatusView& view, Clock& clock,
                           FlashPosition* position) {
  FlashObserver nobody;
  return FlashTransfer(image, link, view, clock, nobody, position);
}

const char* FlashOutcomeName(FlashOutcome outcome) {
  switch (outcome) {
    case FlashOutcome::NotStarted:
      return "not-started";
    case FlashOutcome::Completed:
      return "completed";
    case FlashOutcome::NoAnswer:
      return "no-answer";
    case FlashOutcome::UnexpectedAnswer:
      return "unexpected-answer";
    case FlashOutcome::EraseError:
      return "erase-error";
    case FlashOutcome::WriteError:
      return "write-error";
    case FlashOutcome::NoAnswerWhileFlashing:
      return "no-answer-while-flashing";
    case FlashOutcome::ErrorWhileFlashing:
      return "error-while-flashing";
    case FlashOutcome::NoAnswerAfterFlashing:
      return "no-answer-after-flashing";
    case FlashOutcome::CrcError:
      return "check-failed";
    case FlashOutcome::NoSuccess:
      return "no-success";
    case FlashOutcome::Cancelled:
      return "interrupted";
  }
  return "unknown";
}

}  // namespace loadwing
