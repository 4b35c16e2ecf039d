#pragma once
#include <cstdio>

namespace loadwing::cli {

// True when the stream is an interactive terminal (a console on Windows).
bool StreamIsTerminal(std::FILE* stream);

}  // namespace loadwing::cli
