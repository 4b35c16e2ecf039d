#include <windows.h>

#include "cli/trace_file.h"

namespace loadwing::cli {

std::unique_ptr<TraceFile> TraceFile::Create(const std::string& path, bool replace,
                                             std::string& error) {
  // CREATE_NEW makes a new file or fails. A name that exists is replaced only when it is a
  // regular file (no device such as COM1 or NUL, no folder, no reparse point).
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    if (!replace) {
      error = "it exists already (give --trace-replace to replace it)";
      return nullptr;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
      error = "not a regular file";
      return nullptr;
    }
    handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    if (error.empty()) error = "cannot be created (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK || !SetEndOfFile(handle)) {
    CloseHandle(handle);
    error = "not a regular file";
    return nullptr;
  }
  std::unique_ptr<TraceFile> file(new TraceFile());
  file->handle_ = reinterpret_cast<std::intptr_t>(handle);
  return file;
}

TraceFile::~TraceFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool TraceFile::WriteLine(std::string_view line) {
  HANDLE handle = reinterpret_cast<HANDLE>(handle_);
  while (!line.empty()) {
    DWORD written = 0;
    if (!WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written == 0) {
      return false;
    }
    line.remove_prefix(written);
  }
  return true;
}

}  // namespace loadwing::cli
