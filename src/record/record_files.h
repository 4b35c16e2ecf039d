#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace loadwing {

// What the record store asks of the system: private folders, the writers' lock, and a few
// operations on one file. One implementation per platform (record_files_posix.cpp,
// record_files_win32.cpp); paths are UTF-8 on both. Each failure comes back as false or
// nullopt with error set to the file's name and the system's reason.
class RecordFiles {
 public:
  enum class Lock { kTaken, kBusy, kFailed };

  RecordFiles() = default;
  virtual ~RecordFiles();  // releases a lock still held
  RecordFiles(const RecordFiles&) = delete;
  RecordFiles& operator=(const RecordFiles&) = delete;

  // Creates folder and each missing parent, readable by this user only.
  bool MakePrivateFolder(const std::string& folder, std::string& error);

  // Opens the lock file (created private, never through a symbolic link) and tries once to take
  // it: exclusive for a writer, shared for a reader. kBusy: another program holds it.
  Lock TryLock(const std::string& lockPath, bool exclusive, std::string& error);
  void Unlock();

  // The size of the regular file at path; 0 when there is none.
  std::optional<std::uint64_t> Size(const std::string& path, std::string& error);
  bool Rename(const std::string& from, const std::string& to, std::string& error);
  // The file's last byte; nullopt when it is empty or cannot be read.
  std::optional<char> LastByte(const std::string& path);
  // Appends text with one write to the regular file at path (created private), and waits until
  // it is on the disk.
  bool AppendDurably(const std::string& path, const std::string& text, std::string& error);

  // Reading one file at a time: Open gives false with error empty when there is no file.
  bool OpenForReading(const std::string& path, std::string& error);
  // Up to size bytes; 0 at the end, -1 with error set when reading failed.
  long Read(char* buffer, std::size_t size, std::string& error);
  void CloseReading();

  // Waits between attempts to take the lock; tests count instead of sleeping.
  virtual void Pause(int milliseconds);

 private:
  std::intptr_t lock_ = -1;  // a descriptor or a HANDLE
  std::intptr_t reading_ = -1;
  std::string readingPath_;
};

}  // namespace loadwing
