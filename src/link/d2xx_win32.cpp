#include "link/d2xx_win32.h"

#include <string>

namespace loadwing {

namespace {

// The eight functions' documented export names, and their ordinals in FTDI's 32-bit library,
// which other builds of the library (the 64-bit one among them) need not keep.
struct Export {
  const char* name;
  WORD ordinal;
};
constexpr Export kOpen = {"FT_Open", 1};
constexpr Export kClose = {"FT_Close", 2};
constexpr Export kRead = {"FT_Read", 3};
constexpr Export kWrite = {"FT_Write", 4};
constexpr Export kSetBaudRate = {"FT_SetBaudRate", 7};
constexpr Export kSetDataCharacteristics = {"FT_SetDataCharacteristics", 8};
constexpr Export kGetQueueStatus = {"FT_GetQueueStatus", 18};
constexpr Export kListDevices = {"FT_ListDevices", 28};

// The directory part of the running program's path, with its trailing backslash; empty when it
// cannot be had.
std::string ProgramDirectory() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  const std::string::size_type slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string{} : path.substr(0, slash + 1);
}

std::string SystemDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemDirectoryA(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(buffer, length) + "\\";
}

// The program's directory, then the system directory; the current directory is never searched,
// so a stray DLL there cannot be loaded in the driver's place.
HMODULE LoadFromTrustedDirectories(const char* dllName) {
  HMODULE module = ::LoadLibraryExA(
      dllName, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // Systems without the search flags refuse them as an invalid parameter: load by full path
  // from the same two directories instead.
  for (const std::string& directory : {ProgramDirectory(), SystemDirectory()}) {
    if (directory.empty()) continue;
    const std::string path = directory + dllName;
    module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module != nullptr) return module;
  }
  return nullptr;
}

// By name first: the name is what FTDI documents. The ordinal only where the name is missing.
template <typename Fn>
bool BindExport(HMODULE module, const Export& entry, Fn& function) {
  FARPROC address = ::GetProcAddress(module, entry.name);
  if (address == nullptr) address = ::GetProcAddress(module, MAKEINTRESOURCEA(entry.ordinal));
  // FARPROC is the generic function pointer type: converting it to the real signature is how
  // every run-time binding is done.
  function = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(address));
  return address != nullptr;
}

}  // namespace

Ftd2xxLibrary::Ftd2xxLibrary(const char* dllName) {
  module_ = LoadFromTrustedDirectories(dllName);
  if (module_ != nullptr && !Bind()) Unbind();
}

Ftd2xxLibrary::~Ftd2xxLibrary() {
  Unbind();
}

bool Ftd2xxLibrary::Bind() {
  // A library that lacks any of the eight is not the driver this program knows: use none of it.
  bool all = true;
  all &= BindExport(module_, kOpen, open_);
  all &= BindExport(module_, kClose, close_);
  all &= BindExport(module_, kRead, read_);
  all &= BindExport(module_, kWrite, write_);
  all &= BindExport(module_, kSetBaudRate, setBaudRate_);
  all &= BindExport(module_, kSetDataCharacteristics, setDataCharacteristics_);
  all &= BindExport(module_, kGetQueueStatus, getQueueStatus_);
  all &= BindExport(module_, kListDevices, listDevices_);
  return all;
}

void Ftd2xxLibrary::Unbind() {
  open_ = nullptr;
  close_ = nullptr;
  read_ = nullptr;
  write_ = nullptr;
  setBaudRate_ = nullptr;
  setDataCharacteristics_ = nullptr;
  getQueueStatus_ = nullptr;
  listDevices_ = nullptr;
  if (module_ != nullptr) ::FreeLibrary(module_);
  module_ = nullptr;
}

FtStatus Ftd2xxLibrary::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  if (!Loaded()) return kFtOtherError;
  return listDevices_(arg1, arg2, flags);
}

FtStatus Ftd2xxLibrary::Open(int index, FtHandle* handle) {
  if (!Loaded()) {
    if (handle != nullptr) *handle = nullptr;
    return kFtOtherError;
  }
  return open_(index, handle);
}

FtStatus Ftd2xxLibrary::Close(FtHandle handle) {
  if (!Loaded()) return kFtOtherError;
  return close_(handle);
}

FtStatus Ftd2xxLibrary::Read(FtHandle handle, void* buffer, std::uint32_t n, std::uint32_t* got) {
  if (!Loaded()) {
    if (got != nullptr) *got = 0;
    return kFtOtherError;
  }
  DWORD count = 0;
  const FtStatus status = read_(handle, buffer, n, &count);
  if (got != nullptr) *got = count;
  return status;
}

FtStatus Ftd2xxLibrary::Write(FtHandle handle, void* buffer, std::uint32_t n,
                              std::uint32_t* written) {
  if (!Loaded()) {
    if (written != nullptr) *written = 0;
    return kFtOtherError;
  }
  DWORD count = 0;
  const FtStatus status = write_(handle, buffer, n, &count);
  if (written != nullptr) *written = count;
  return status;
}

FtStatus Ftd2xxLibrary::SetBaudRate(FtHandle handle, std::uint32_t baud) {
  if (!Loaded()) return kFtOtherError;
  return setBaudRate_(handle, baud);
}

FtStatus Ftd2xxLibrary::SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                               std::uint8_t stopBits, std::uint8_t parity) {
  if (!Loaded()) return kFtOtherError;
  return setDataCharacteristics_(handle, wordLength, stopBits, parity);
}

FtStatus Ftd2xxLibrary::GetQueueStatus(FtHandle handle, std::uint32_t* queued) {
  if (!Loaded()) {
    if (queued != nullptr) *queued = 0;
    return kFtOtherError;
  }
  DWORD count = 0;
  const FtStatus status = getQueueStatus_(handle, &count);
  if (queued != nullptr) *queued = count;
  return status;
}

}  // namespace loadwing
