#include "cli/exit_codes.h"

namespace loadwing::cli {

ExitCode ExitCodeFor(FlashOutcome outcome) {
  switch (outcome) {
    case FlashOutcome::Completed:
      return kExitCompleted;
    case FlashOutcome::NotStarted:
      // Only an image without a target is not started; the command line refuses those earlier.
      return kExitBadFirmware;
    case FlashOutcome::NoAnswer:
      return kExitNoAnswer;
    case FlashOutcome::UnexpectedAnswer:
      return kExitUnexpectedAnswer;
    case FlashOutcome::EraseError:
      return kExitEraseError;
    case FlashOutcome::WriteError:
      return kExitWriteError;
    case FlashOutcome::NoAnswerWhileFlashing:
    case FlashOutcome::ErrorWhileFlashing:
      return kExitBlockFailed;
    case FlashOutcome::CrcError:
      return kExitCheckFailed;
    case FlashOutcome::NoAnswerAfterFlashing:
    case FlashOutcome::NoSuccess:
      return kExitNoSuccess;
    case FlashOutcome::Cancelled:
      return kExitInterrupted;
  }
  return kExitNoSuccess;
}

ExitCode ExitCodeFor(LinkError error) {
  switch (error) {
    case LinkError::None:
      return kExitCompleted;
    case LinkError::InvalidHandle:
    case LinkError::CommState:
    case LinkError::SetTimeout:
    case LinkError::SetupComm:
    case LinkError::UsbConnect:
    case LinkError::NoSuchPort:
    case LinkError::SimulatorUnavailable:
      return kExitNoLink;
  }
  return kExitNoLink;
}

}  // namespace loadwing::cli
