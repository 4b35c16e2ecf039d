#include <windows.h>

#include "cli/interrupt.h"

namespace loadwing::cli {

namespace {

// Runs on a thread of its own that the console starts for each event, so the last words are
// ordinary code.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  const auto now = static_cast<std::int64_t>(GetTickCount64());
  if (NoteInterruptRequest(static_cast<int>(event), now) == InterruptAction::ExitNow) {
    static const char kText[] = "\r\nloadwing: interrupted again, stopping at once\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
    SayFinalWords();
    // Ending the process closes the port.
    ExitProcess(130);
  }
  return TRUE;
}

}  // namespace

void InstallInterruptHandlers() {
  // Ctrl-C ignored by inheritance (a new process group) stays ignored: a handler does not turn
  // it back on.
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// A Windows console has no suspend request.
void HoldSuspend() {}
void ReleaseSuspend() {}

}  // namespace loadwing::cli
