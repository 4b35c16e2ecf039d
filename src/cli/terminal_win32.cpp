#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/terminal.h"

namespace loadwing::cli {

bool StreamIsTerminal(std::FILE* stream) {
  if (_isatty(_fileno(stream)) == 0) return false;
  // The progress bar redraws with escape sequences; ask the console to understand them.
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
  return true;
}

bool StreamsShareFile(std::FILE* a, std::FILE* b) {
  const HANDLE ha = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(a)));
  const HANDLE hb = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(b)));
  BY_HANDLE_FILE_INFORMATION ia{};
  BY_HANDLE_FILE_INFORMATION ib{};
  // Only disk files can be told apart this way; pipes and consoles count as separate.
  if (!GetFileInformationByHandle(ha, &ia) || !GetFileInformationByHandle(hb, &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

// Windows raises no signal for a closed pipe: a write to it simply fails.
void IgnoreBrokenPipe() {}

}  // namespace loadwing::cli
