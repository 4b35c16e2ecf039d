#include <windows.h>

#include "cli/interrupt.h"

namespace loadwing::cli {

namespace {

// Runs on a thread of its own that the console starts for each event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  if (NoteInterruptRequest()) {
    // Second request: leave at once. Ending the process closes the port.
    static const char kText[] = "\r\nloadwing: interrupted again, stopping at once\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
    ExitProcess(130);
  }
  return TRUE;
}

}  // namespace

void InstallInterruptHandlers() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace loadwing::cli
