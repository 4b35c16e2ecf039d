#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "cli/interrupt.h"

namespace loadwing::cli {

namespace {

void OnSignal(int) {
  if (NoteInterruptRequest()) {
    // Second request: leave at once. Exiting closes the port, which releases its lock.
    static const char kText[] = "\nloadwing: interrupted again, stopping at once\n";
    const ssize_t ignored = ::write(STDERR_FILENO, kText, sizeof kText - 1);
    (void)ignored;
    std::_Exit(130);
  }
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait in poll() returns early and the clock is read sooner.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

}  // namespace loadwing::cli
