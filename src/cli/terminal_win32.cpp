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

}  // namespace loadwing::cli
