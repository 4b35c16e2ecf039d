#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmware_image.h"
#include "flash/flash_transfer.h"
#include "record/record_files.h"

namespace loadwing {

// The flash record: one JSON line per event of a transfer in a per-user file, so that it can be
// said later which firmware went into which machine. Failures come back as false or a filled
// error text, never as exceptions: a record that cannot be written never stops a transfer.

// The version of the line format written now; lines without one are version 1.
inline constexpr std::uint32_t kFlashRecordSchema = 2;
// The outcome of the line written before the first byte goes out.
inline constexpr const char* kStartedOutcome = "started";
// What `record` calls a start that no outcome line follows (killed, crashed, power lost).
inline constexpr const char* kDidNotFinishOutcome = "did-not-finish";

// One transfer as the flash record keeps it.
struct FlashRecordEntry {
  std::uint32_t schema = kFlashRecordSchema;
  std::string time;  // UTC, "2026-12-08T11:51:28Z"
  std::string program;
  std::string version;
  std::string machine;  // the serial number on the machine's plate; empty: not given
  std::string link;     // "COM3", "USB cable", "/dev/ttyUSB0"
  std::string file;
  std::string fileSha256;  // of the whole file; empty when it could not be read
  std::string sentSha256;  // of the bytes the transfer sends
  std::string target;      // "Module3", "WebC", ...
  std::uint32_t bytes = 0;
  std::uint32_t blocks = 0;
  std::uint32_t blocksAcknowledged = 0;
  std::string outcome;  // "started", "completed", "no-answer", ...
  std::string status;   // the status text, with its leading blank
  std::string verdict;  // the machine's answer to the check byte; empty when none came
  double querySeconds = 0;
  double blockSeconds = 0;
  double verdictSeconds = 0;
};

// The entry as one line of JSON (no line end), and back; nullopt for a line that is no entry
// (one cut off by a power loss, for instance).
std::string FlashRecordLine(const FlashRecordEntry& entry);
std::optional<FlashRecordEntry> ParseFlashRecordLine(std::string_view line);

// "2026-12-08T11:51:28Z" for seconds since 1970-01-01 UTC.
std::string UtcTimeText(std::int64_t seconds);

// Where transfers are recorded. Append must not take long and must not throw.
class FlashRecord {
 public:
  virtual ~FlashRecord() = default;
  // False with error set when the entry could not be written.
  [[nodiscard]] virtual bool Append(const FlashRecordEntry& entry, std::string& error) = 0;
};

// The record file of this user: %LOCALAPPDATA%\Loadwing\flash-record.jsonl on Windows,
// $XDG_STATE_HOME/loadwing/flash-record.jsonl (default ~/.local/state/...) elsewhere; empty with
// error set when the system names no place for it. UTF-8 on both.
std::string DefaultFlashRecordPath(std::string& error);

// How long a writer or reader waits for the lock, in steps of kLockPauseMs. Writers hold it for
// one short append; a longer wait means something is wrong, and a transfer's end must not wait.
inline constexpr int kLockWaitMs = 200;
inline constexpr int kLockPauseMs = 10;

// The record file at a path, its folder private to the user. Each entry is one write of one line
// under a lock shared by every program writing the file, flushed to the disk before the lock is
// released; past kRotateBytes the file becomes path + ".1" (replacing the older one) and a new
// file begins.
class FileFlashRecord final : public FlashRecord {
 public:
  static constexpr std::uint64_t kRotateBytes = 1024 * 1024;
  explicit FileFlashRecord(std::string path) : path_(std::move(path)) {}
  bool Append(const FlashRecordEntry& entry, std::string& error) override;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Appends line and a line end to the file at path under the writers' lock, rotating first when
// the file would pass rotateBytes; a file whose last line was cut off gets a line end first, so
// that the new line stays whole.
[[nodiscard]] bool AppendRecordLine(RecordFiles& files, const std::string& path,
                                    const std::string& line, std::uint64_t rotateBytes,
                                    std::string& error);

// What a record file holds, older file first, newest entry last.
struct FlashRecordContents {
  std::vector<FlashRecordEntry> entries;
  std::vector<std::string> notes;  // lines skipped and why, or what else went amiss
  std::size_t skipped = 0;         // lines that were no entry or too long
  bool found = false;              // false when neither file exists
  std::string error;               // set when a file is there but cannot be read
};
// Lines longer than this are skipped unread; a file is read no further than kMaxReadBytes.
inline constexpr std::size_t kMaxRecordLineBytes = 64 * 1024;
inline constexpr std::uint64_t kMaxReadBytes = 16 * 1024 * 1024;
// Reads the rotated and the current file under the lock, so that no rotation falls between.
FlashRecordContents ReadFlashRecord(RecordFiles& files, const std::string& path);
FlashRecordContents ReadFlashRecord(const std::string& path);

// The line written before a transfer's first byte: entry as it stands then, outcome "started".
FlashRecordEntry StartedEntry(const FlashRecordEntry& entry);

// The transfers the entries tell of, in order: a started line followed by its outcome line
// (same time, program, link, file and target) becomes that outcome line; one with no outcome
// becomes kDidNotFinishOutcome.
std::vector<FlashRecordEntry> RecordedTransfers(const std::vector<FlashRecordEntry>& entries);

// Collects what the record keeps of a transfer while it runs: the blocks acknowledged, the
// verdict and the seconds of each phase, read from seconds (any steadily rising count).
class TransferRecorder final : public FlashObserver {
 public:
  explicit TransferRecorder(std::function<double()> seconds);
  void PhaseStarted(FlashPhase phase) override;
  void BlockAcknowledged(std::uint32_t index, std::uint32_t blocks) override;
  void VerdictReceived(std::string_view answer) override;

  // Fills the transfer's part of entry once it has ended.
  void Finish(FlashOutcome outcome, const std::string& status, FlashRecordEntry& entry);

 private:
  std::function<double()> seconds_;
  double phaseStart_[3] = {-1, -1, -1};
  std::uint32_t acknowledged_ = 0;
  std::string verdict_;
};

}  // namespace loadwing
