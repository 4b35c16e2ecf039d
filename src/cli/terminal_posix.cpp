#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "cli/terminal.h"

namespace loadwing::cli {

bool StreamIsTerminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) != 0;
}

bool StreamsShareFile(std::FILE* a, std::FILE* b) {
  struct stat sa {};
  struct stat sb {};
  if (::fstat(::fileno(a), &sa) != 0 || ::fstat(::fileno(b), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void IgnoreBrokenPipe() {
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace loadwing::cli
