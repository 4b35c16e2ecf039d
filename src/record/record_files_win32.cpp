#include <shlobj.h>
#include <windows.h>

#include "record/flash_record.h"
#include "record/record_files.h"

namespace loadwing {

namespace {

// Paths are UTF-8 inside the program and wide for the system: the C library's narrow-to-wide
// conversion follows neither the process's code page nor UTF-8, and would turn a profile
// folder such as C:\Users\Jürgen into another, wrong name.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
  text.pop_back();  // the terminating zero
  return text;
}

std::string Failed(const std::string& what, const std::string& path, DWORD error = GetLastError()) {
  return what + " " + path + " (error " + std::to_string(error) + ")";
}

HANDLE AsHandle(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

// A handle to a file on the disk, not a device, pipe or console someone named so.
bool IsDiskFile(HANDLE h) {
  return GetFileType(h) == FILE_TYPE_DISK;
}

// Opens path as the record's files are opened: never through a reparse point (a link planted
// in the folder), and only a file on the disk.
HANDLE OpenRecordFile(const std::string& path, DWORD access, DWORD disposition,
                      std::string& error) {
  HANDLE h = CreateFileW(Wide(path).c_str(), access, kShareAll, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
      error = Failed("cannot open", path, code);
    }
    return h;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!IsDiskFile(h) || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    CloseHandle(h);
    error = "cannot use " + path + ": it is no regular file";
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

}  // namespace

std::string DefaultFlashRecordPath(std::string& error) {
  // The environment first, as every program started from it sees the same place; the known
  // folder when it is not set.
  std::string base;
  wchar_t value[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", value, MAX_PATH);
  if (n > 0 && n < MAX_PATH) base = Utf8(value);
  if (base.empty()) {
    PWSTR folder = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder))) {
      base = Utf8(folder);
    }
    CoTaskMemFree(folder);
  }
  if (base.empty()) {
    error = "the system names no local application data folder (LOCALAPPDATA)";
    return {};
  }
  return base + "\\Loadwing\\flash-record.jsonl";
}

RecordFiles::~RecordFiles() {
  Unlock();
  CloseReading();
}

bool RecordFiles::MakePrivateFolder(const std::string& folder, std::string& error) {
  // The local application data folder is the user's own; what is made in it inherits that.
  for (std::size_t end = folder.find_first_of("\\/", 3);;
       end = folder.find_first_of("\\/", end + 1)) {
    const std::string part = folder.substr(0, end);
    if (!CreateDirectoryW(Wide(part).c_str(), nullptr)) {
      const DWORD code = GetLastError();
      // A drive or share at the start cannot be made, only the last part must be.
      if (code != ERROR_ALREADY_EXISTS && end == std::string::npos) {
        error = Failed("cannot create", part, code);
        return false;
      }
    }
    if (end == std::string::npos) break;
  }
  const DWORD attributes = GetFileAttributesW(Wide(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = "cannot create " + folder + ": a file is in the way";
    return false;
  }
  return true;
}

RecordFiles::Lock RecordFiles::TryLock(const std::string& lockPath, bool exclusive,
                                       std::string& error) {
  if (lock_ == -1) {
    HANDLE h = OpenRecordFile(lockPath, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, error);
    if (h == INVALID_HANDLE_VALUE) {
      if (error.empty()) error = Failed("cannot open", lockPath);
      return Lock::kFailed;
    }
    lock_ = reinterpret_cast<std::intptr_t>(h);
  }
  OVERLAPPED whole{};
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (LockFileEx(AsHandle(lock_), flags, 0, 1, 0, &whole)) return Lock::kTaken;
  if (GetLastError() == ERROR_LOCK_VIOLATION) return Lock::kBusy;
  error = Failed("cannot lock", lockPath);
  return Lock::kFailed;
}

void RecordFiles::Unlock() {
  if (lock_ != -1) CloseHandle(AsHandle(lock_));  // closing releases the lock
  lock_ = -1;
}

std::optional<std::uint64_t> RecordFiles::Size(const std::string& path, std::string& error) {
  Handle file(OpenRecordFile(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, error));
  if (!file.ok()) {
    if (error.empty()) return 0;
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) {
    error = Failed("cannot examine", path);
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool RecordFiles::Rename(const std::string& from, const std::string& to, std::string& error) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  error = Failed("cannot rename", from);
  return false;
}

std::optional<char> RecordFiles::LastByte(const std::string& path) {
  std::string ignored;
  Handle file(OpenRecordFile(path, GENERIC_READ, OPEN_EXISTING, ignored));
  LARGE_INTEGER size{};
  if (!file.ok() || !GetFileSizeEx(file.get(), &size) || size.QuadPart == 0) return std::nullopt;
  LARGE_INTEGER at{};
  at.QuadPart = size.QuadPart - 1;
  char last = 0;
  DWORD got = 0;
  if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
      !ReadFile(file.get(), &last, 1, &got, nullptr) || got != 1) {
    return std::nullopt;
  }
  return last;
}

bool RecordFiles::AppendDurably(const std::string& path, const std::string& text,
                                std::string& error) {
  // Written at the end found under the writers' lock; GENERIC_WRITE, as the flush needs it.
  Handle file(OpenRecordFile(path, GENERIC_WRITE, OPEN_ALWAYS, error));
  if (!file.ok()) {
    if (error.empty()) error = Failed("cannot open", path);
    return false;
  }
  DWORD written = 0;
  const LARGE_INTEGER none{};
  if (!SetFilePointerEx(file.get(), none, nullptr, FILE_END) ||
      !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    error = Failed("cannot write", path);
    return false;
  }
  if (!FlushFileBuffers(file.get())) {
    error = Failed("cannot write", path);
    return false;
  }
  return true;
}

bool RecordFiles::OpenForReading(const std::string& path, std::string& error) {
  CloseReading();
  HANDLE h = OpenRecordFile(path, GENERIC_READ, OPEN_EXISTING, error);
  if (h == INVALID_HANDLE_VALUE) return false;
  reading_ = reinterpret_cast<std::intptr_t>(h);
  readingPath_ = path;
  return true;
}

long RecordFiles::Read(char* buffer, std::size_t size, std::string& error) {
  DWORD got = 0;
  if (!ReadFile(AsHandle(reading_), buffer, static_cast<DWORD>(size), &got, nullptr)) {
    error = Failed("cannot read", readingPath_);
    return -1;
  }
  return static_cast<long>(got);
}

void RecordFiles::CloseReading() {
  if (reading_ != -1) CloseHandle(AsHandle(reading_));
  reading_ = -1;
}

void RecordFiles::Pause(int milliseconds) {
  Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace loadwing
