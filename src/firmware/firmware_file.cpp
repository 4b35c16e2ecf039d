#include "firmware/firmware_file.h"

#include <filesystem>
#include <fstream>

namespace loadwing {

std::unique_ptr<std::istream> FirmwareFileSystem::OpenStream(const std::string& path) {
  // A folder opens as a stream on POSIX systems but not on Windows; refuse it on both.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return nullptr;
  auto stream = std::make_unique<std::ifstream>(path, std::ios::in | std::ios::binary);
  if (!stream->is_open()) return nullptr;
  return stream;
}

}  // namespace loadwing
