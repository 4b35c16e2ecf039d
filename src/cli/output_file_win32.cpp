#include <windows.h>

#include <filesystem>
#include <random>

#include "cli/bounded_file.h"
#include "cli/output_file.h"

namespace loadwing::cli {

bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size,
                         std::string& error) {
  const std::filesystem::path target(path);
  std::random_device random;
  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  // CREATE_NEW: a name already taken (a planted link, the input) is never opened.
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    // Appended piece by piece: GCC 12 at -O3 takes "." + a temporary string for an overlapping
    // copy (-Wrestrict), a false alarm that stops the release build.
    std::string name(1, '.');
    name += target.filename().string();
    name += '.';
    name += std::to_string(random() % 1000000);
    name += ".part";
    temporary = (target.parent_path() / name).string();
    file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create a file beside " + path + ": " + WindowsErrorText(GetLastError());
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) != 0 &&
            written == size && FlushFileBuffers(file) != 0;
  const DWORD reason = GetLastError();
  ok = CloseHandle(file) != 0 && ok;
  if (ok && !MoveFileExA(temporary.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = "cannot rename " + temporary + " to " + path + ": " + WindowsErrorText(GetLastError());
    DeleteFileA(temporary.c_str());
    return false;
  }
  if (!ok) {
    error = "cannot write " + temporary + ": " + WindowsErrorText(reason);
    DeleteFileA(temporary.c_str());
  }
  return ok;
}

}  // namespace loadwing::cli
