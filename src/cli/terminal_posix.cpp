#include <unistd.h>

#include "cli/terminal.h"

namespace loadwing::cli {

bool StreamIsTerminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) != 0;
}

}  // namespace loadwing::cli
