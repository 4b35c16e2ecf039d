#include <windows.h>

#include "app/flash_record.h"

namespace loadwing {

namespace {

constexpr int kLockAttempts = 200;
constexpr DWORD kLockPauseMs = 10;

std::string Failed(const std::string& what, const std::string& path) {
  return what + " " + path + " (error " + std::to_string(GetLastError()) + ")";
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  void Close() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

bool LockExclusive(HANDLE file) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    OVERLAPPED whole{};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
      return true;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) return false;
    Sleep(kLockPauseMs);
  }
  return false;
}

// True when the file's last byte is no line end (a line cut off by a power loss).
bool EndsInsideLine(const std::string& path, LONGLONG size) {
  if (size == 0) return false;
  Handle file(CreateFileA(path.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return false;
  LARGE_INTEGER at{};
  at.QuadPart = size - 1;
  char last = '\n';
  DWORD got = 0;
  return SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) &&
         ReadFile(file.get(), &last, 1, &got, nullptr) && got == 1 && last != '\n';
}

}  // namespace

std::string DefaultFlashRecordPath(std::string& error) {
  char folder[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("LOCALAPPDATA", folder, sizeof folder);
  if (n == 0 || n >= sizeof folder) {
    error = "LOCALAPPDATA is not set";
    return {};
  }
  return std::string(folder) + "\\Loadwing\\flash-record.jsonl";
}

bool AppendRecordLine(const std::string& path, const std::string& line, std::uint64_t rotateBytes,
                      std::string& error) {
  // A lock file of its own: the record file itself is renamed away when it is rotated.
  const std::string lockPath = path + ".lock";
  Handle lock(CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!lock.ok()) {
    error = Failed("cannot open", lockPath);
    return false;
  }
  if (!LockExclusive(lock.get())) {
    error = Failed("cannot lock", lockPath);
    return false;
  }
  std::string text = line + "\n";
  // One rotation at most: a failed rename only lets the file grow.
  for (bool mayRotate = true;; mayRotate = false) {
    Handle file(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) {
      error = Failed("cannot open", path);
      return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
      error = Failed("cannot examine", path);
      return false;
    }
    const auto bytes = static_cast<std::uint64_t>(size.QuadPart);
    if (mayRotate && bytes > 0 && bytes + text.size() > rotateBytes) {
      file.Close();
      MoveFileExA(path.c_str(), (path + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
      continue;
    }
    if (EndsInsideLine(path, size.QuadPart)) text.insert(text.begin(), '\n');
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
      error = Failed("cannot write", path);
      return false;
    }
    return true;
  }
}

}  // namespace loadwing
