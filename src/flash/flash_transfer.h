#pragma once
#include <cstdint>
#include <string_view>

#include "core/clock.h"
#include "core/status_view.h"
#include "firmware/firmware_image.h"
#include "link/link_io.h"

namespace loadwing {

// Errors in the flash layer: a transfer returns a FlashOutcome, and FlashPosition tells how far
// it got (what the controller was left with). The status line says the same in words; the
// command line turns the outcome into an exit code and advice with a switch, never by reading
// the text. Nothing throws.

// What the machine is told and answers for one target.
struct FlashTargetInfo {
  FirmwareTarget target;
  char requestCode[3];
  char eraseErrorPrefix[4];
  char readyAnswer[6];
  std::uint32_t imageSize;
};

// The row of target, or nullptr for None and values outside the table.
[[nodiscard]] const FlashTargetInfo* FindFlashTargetInfo(FirmwareTarget target);

// How a transfer ended; the status line says the same in words.
enum class FlashOutcome {
  NotStarted,             // no image loaded: nothing happened
  Completed,              // " flash: completed"
  NoAnswer,               // " flash: no answer"
  UnexpectedAnswer,       // " flash: unexpected answer ..."
  EraseError,             // " flash: erase error ..."
  WriteError,             // " Write COM: write error"
  NoAnswerWhileFlashing,  // " flash: no answer while flashing"
  ErrorWhileFlashing,     // " flash: error while flashing"
  NoAnswerAfterFlashing,  // " flash: no answer after flashing"
  CrcError,               // " flash: crc error, DATA INVALID"
  NoSuccess,              // " flash: no success, returncode: ..."
  Cancelled,              // stopped at a wait on request; the status line keeps its last text
};

// How far a transfer got, and so what it left in the controller.
enum class FlashStage {
  Request,  // the machine never said ready: it is untouched
  Blocks,   // it said ready and has erased; blocks 0..blocksAcknowledged-1 are written
  Verdict,  // every block is written; only the verdict on the check byte is missing
  Done,     // the machine gave its verdict
};

struct FlashPosition {
  FlashStage stage = FlashStage::Request;
  std::uint32_t blocksAcknowledged = 0;
  std::uint32_t blockCount = 0;
};

// A short machine-readable name: "completed", "no-answer", "check-failed", ...
[[nodiscard]] const char* FlashOutcomeName(FlashOutcome outcome);

enum class FlashPhase { Query, Blocks, Verdict };

// Told how a transfer goes, for whoever keeps a record of it or measures its speed. Calls come
// from inside the transfer and must return at once.
class FlashObserver {
 public:
  virtual ~FlashObserver() = default;
  virtual void PhaseStarted(FlashPhase /*phase*/) {}
  // Block index (0-based) of blocks was acknowledged with "1".
  virtual void BlockAcknowledged(std::uint32_t /*index*/, std::uint32_t /*blocks*/) {}
  // The machine's answer to the check byte, up to its first zero byte (empty: none came).
  virtual void VerdictReceived(std::string_view /*answer*/) {}
};

// Writes image into the controller it is for over link: target request, 257-byte blocks with
// acknowledgements, check byte and verdict. Reads the image and never changes it. Ends with
// Cancelled at the next wait once the link's cancellation token is set. position, when given,
// follows the transfer as it goes (a view may read it while it runs) and ends where it stopped;
// observer, when given, hears of each phase, block and the verdict.
[[nodiscard]] FlashOutcome FlashTransfer(const FirmwareImage& image, LinkIo& link, StatusView& view,
                                         Clock& clock, FlashPosition* position = nullptr);
[[nodiscard]] FlashOutcome FlashTransfer(const FirmwareImage& image, LinkIo& link, StatusView& view,
                                         Clock& clock, FlashObserver& observer,
                                         FlashPosition* position = nullptr);

}  // namespace loadwing
