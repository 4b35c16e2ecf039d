#include <windows.h>

#include "cli/bounded_file.h"

namespace loadwing::cli {

std::string WindowsErrorText(unsigned long code) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, text, sizeof text, nullptr);
  std::string reason(text, n);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == '.' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason.empty() ? "error " + std::to_string(code) : reason;
}

std::optional<std::string> ReadBoundedFile(const std::string& path, std::size_t limit,
                                           std::string& error) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = WindowsErrorText(GetLastError());
    return std::nullopt;
  }
  std::optional<std::string> text;
  LARGE_INTEGER size{};
  // A pipe or a device is not a disk file: reading it could wait for ever.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    error = "is not a regular file";
  } else if (!GetFileSizeEx(file, &size)) {
    error = WindowsErrorText(GetLastError());
  } else if (static_cast<unsigned long long>(size.QuadPart) > limit) {
    error = "is larger than " + std::to_string(limit) + " bytes";
  } else {
    std::string bytes(limit + 1, '\0');
    DWORD got = 0;
    if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
      error = WindowsErrorText(GetLastError());
    } else if (got > limit) {
      error = "is larger than " + std::to_string(limit) + " bytes";
    } else {
      bytes.resize(got);
      text = std::move(bytes);
    }
  }
  CloseHandle(file);
  return text;
}

}  // namespace loadwing::cli
