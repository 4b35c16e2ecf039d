#pragma once
#include <cstdio>

namespace loadwing::cli {

// True when the stream is an interactive terminal (a console on Windows).
[[nodiscard]] bool StreamIsTerminal(std::FILE* stream);

// True when both streams write into the same file or pipe (as `>log 2>&1` makes them), so that
// a text shown on one need not be repeated on the other.
[[nodiscard]] bool StreamsShareFile(std::FILE* a, std::FILE* b);

// A reader that quits early must not end the program: writes to it fail instead, and a
// transfer goes on to its end.
void IgnoreBrokenPipe();

}  // namespace loadwing::cli
