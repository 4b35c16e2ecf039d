#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace loadwing::cli {

// The name that stands for standard output as a destination.
inline constexpr const char* kStdoutName = "-";

// Decides where output may be written for a file made from input. Refuses the input file itself
// and anything existing that is not a regular file (a device, a folder, a FIFO); a symbolic link
// is followed only to a regular file, which is then the destination. Returns the path to write
// (kStdoutName for standard output), or an empty string with error set.
std::string ChooseOutputPath(const std::string& input, const std::string& output,
                             std::string& error);

// Writes the bytes into a new file of a unique name beside path, created exclusively (never an
// existing file or link, so never one planted there or the input itself), and renames it into
// place: a failed write never leaves a truncated file under the name asked for. A file replaced
// keeps its permissions. error carries the operating system's reason. Platform-specific.
bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size,
                         std::string& error);

}  // namespace loadwing::cli
