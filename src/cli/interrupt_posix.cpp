#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>

#include "cli/interrupt.h"

namespace loadwing::cli {

namespace {

// The signals are taken by one thread of their own (sigwait), not by a handler: what it does on
// the way out (the record line, the hint) is ordinary code that a handler could not run safely.
sigset_t watched;

struct SuspendState {
  std::mutex mutex;
  bool held = false;
  bool pending = false;
};

SuspendState& Suspension() {
  static SuspendState state;
  return state;
}

std::int64_t SteadyMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

void Say(const char* text, std::size_t size) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, size);
  (void)ignored;
}

// SIGTSTP is taken by the watching thread, so its default action never runs: SIGSTOP does the
// same and cannot be caught.
void SuspendNow() {
  ::kill(::getpid(), SIGSTOP);
}

void Watch() {
  for (;;) {
    int signal = 0;
    if (sigwait(&watched, &signal) != 0) continue;
    if (signal == SIGTSTP) {
      SuspendState& state = Suspension();
      std::unique_lock<std::mutex> lock(state.mutex);
      if (!state.held) {
        lock.unlock();
        SuspendNow();
      } else if (!state.pending) {
        state.pending = true;
        static const char kText[] =
            "\nloadwing: the machine cannot wait: suspending after the transfer\n";
        Say(kText, sizeof kText - 1);
      }
      continue;
    }
    if (NoteInterruptRequest(signal, SteadyMs()) != InterruptAction::ExitNow) continue;
    static const char kText[] = "\nloadwing: interrupted again, stopping at once\n";
    Say(kText, sizeof kText - 1);
    SayFinalWords();
    // Exiting closes the port, which releases its lock.
    std::_Exit(130);
  }
}

}  // namespace

void InstallInterruptHandlers() {
  sigemptyset(&watched);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGTSTP}) {
    struct sigaction inherited {};
    if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    sigaddset(&watched, signal);
  }
  // Blocked in this thread before any other starts, so that every later thread inherits it and
  // only the watching thread receives them.
  pthread_sigmask(SIG_BLOCK, &watched, nullptr);
  std::thread(Watch).detach();
}

void HoldSuspend() {
  const std::lock_guard<std::mutex> lock(Suspension().mutex);
  Suspension().held = true;
}

void ReleaseSuspend() {
  SuspendState& state = Suspension();
  std::unique_lock<std::mutex> lock(state.mutex);
  const bool pending = state.pending;
  state.held = false;
  state.pending = false;
  lock.unlock();
  if (pending) SuspendNow();
}

}  // namespace loadwing::cli
