#include "cli/output_file.h"

#include <filesystem>
#include <system_error>

namespace loadwing::cli {

namespace {

namespace fs = std::filesystem;

const char* KindOf(const fs::file_status& status) {
  switch (status.type()) {
    case fs::file_type::directory:
      return "a folder";
    case fs::file_type::character:
    case fs::file_type::block:
      return "a device";
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::socket:
      return "a socket";
    default:
      return "not a regular file";
  }
}

}  // namespace

std::string ChooseOutputPath(const std::string& input, const std::string& output,
                             std::string& error) {
  if (output == kStdoutName) return output;
  std::error_code ec;
  const fs::file_status own = fs::symlink_status(output, ec);
  if (!fs::exists(own)) return output;  // a new file
  const fs::file_status target = fs::status(output, ec);
  if (fs::is_symlink(own) && !fs::exists(target)) {
    error = output + " is a symbolic link to nothing; give the file to write";
    return "";
  }
  if (!fs::is_regular_file(target)) {
    error = output + " is " + KindOf(target) +
            "; decode writes only regular files (or - for "
            "standard output)";
    return "";
  }
  if (fs::equivalent(input, output, ec)) {
    error = output + " is the firmware file itself; give another output file";
    return "";
  }
  // Renaming onto the link would replace it; the file it points to is what is meant.
  if (fs::is_symlink(own)) {
    const fs::path resolved = fs::canonical(output, ec);
    if (ec) {
      error = "cannot follow " + output + ": " + ec.message();
      return "";
    }
    return resolved.string();
  }
  return output;
}

}  // namespace loadwing::cli
