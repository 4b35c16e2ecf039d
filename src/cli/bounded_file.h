#pragma once
#include <cstddef>
#include <optional>
#include <string>

namespace loadwing::cli {

// The whole of a regular file of at most limit bytes, read once. Opened without blocking: a FIFO,
// device or folder is refused at once, never waited on or read without end. nullopt with error
// set (a reason a person can act on, without the path) otherwise.
std::optional<std::string> ReadBoundedFile(const std::string& path, std::size_t limit,
                                           std::string& error);

#ifdef _WIN32
// The system's text for a Windows error code (GetLastError()).
std::string WindowsErrorText(unsigned long code);
#endif

}  // namespace loadwing::cli
