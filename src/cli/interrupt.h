#pragma once
#include <cstdint>
#include <functional>

#include "core/cancellation.h"

namespace loadwing::cli {

// Installs the handlers for Ctrl-C (and on POSIX SIGTERM, SIGHUP and SIGTSTP). A signal the
// process inherited as ignored stays ignored (under nohup a logout must not stop a flash). The
// first request sets InterruptToken(), which ends the transfer at its next wait; the same signal
// again within two seconds is the same request (timeout and kill -PGID send two copies); only a
// later one ends the process at once, after the last words (see SetLastWords).
void InstallInterruptHandlers();

// The process's one interrupt request, as the handlers set it.
CancellationToken& InterruptToken();

enum class InterruptAction {
  Stop,     // the first request: the transfer stops at its next wait
  Same,     // a copy of the first request: nothing more to do
  ExitNow,  // a later request: end at once
};

// How long a second copy of the same signal still counts as the first request.
inline constexpr std::int64_t kSameRequestMs = 2000;

// For the platform's handler: marks a request of the given kind (a signal number or console
// event) arriving at nowMs on a steady clock, and says what to do.
InterruptAction NoteInterruptRequest(int kind, std::int64_t nowMs);

// What must still be written when the process ends at once (the record line, the hint): runs on
// the handler's thread, never inside a signal handler. Cleared by ClearLastWords, which waits for
// last words already being said.
void SetLastWords(std::function<void()> words);
void ClearLastWords();
// Says the last words, if any, once.
void SayLastWords();
// The same for the handler just before it ends the process; words set from then on are dropped,
// so that the thread still running until the end cannot say its own as well.
void SayFinalWords();

// While held, a suspend request (Ctrl-Z) is kept until the hold ends: the machine cannot wait in
// the middle of a transfer. Ending the hold performs a suspend that came meanwhile.
void HoldSuspend();
void ReleaseSuspend();

// Back to no request; for tests.
void ResetInterruptForTesting();

}  // namespace loadwing::cli
