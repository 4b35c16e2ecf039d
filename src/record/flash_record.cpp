#include "record/flash_record.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <tuple>

#include "core/json.h"
#include "core/sha256.h"
#include "firmware/firmware_target_names.h"

namespace loadwing {

namespace {

// Seconds to the millisecond: more only makes the lines longer.
double Rounded(double seconds) {
  return static_cast<double>(static_cast<std::int64_t>(seconds * 1000.0 + 0.5)) / 1000.0;
}

std::uint32_t Count(const JsonFields& json, std::string_view key) {
  const auto value = json.Unsigned(key).value_or(0);
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

// Takes the lock within kLockWaitMs, or says who holds it.
bool TakeLock(RecordFiles& files, const std::string& lockPath, bool exclusive, std::string& error) {
  for (int waited = 0;; waited += kLockPauseMs) {
    switch (files.TryLock(lockPath, exclusive, error)) {
      case RecordFiles::Lock::kTaken:
        return true;
      case RecordFiles::Lock::kFailed:
        return false;
      case RecordFiles::Lock::kBusy:
        break;
    }
    if (waited >= kLockWaitMs) {
      error =
          "another program holds " + lockPath + " (waited " + std::to_string(kLockWaitMs) + " ms)";
      return false;
    }
    files.Pause(kLockPauseMs);
  }
}

// Releases the lock however the reading or writing ends.
class LockHeld {
 public:
  explicit LockHeld(RecordFiles& files) : files_(files) {}
  ~LockHeld() { files_.Unlock(); }
  LockHeld(const LockHeld&) = delete;
  LockHeld& operator=(const LockHeld&) = delete;

 private:
  RecordFiles& files_;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Splits the file into lines as it reads, in chunks: a line longer than kMaxRecordLineBytes is
// passed over unread, and no more than kMaxReadBytes are read, whatever the file holds.
// False with contents.error set when the file is there but cannot be read.
bool ReadLines(RecordFiles& files, const std::string& path, FlashRecordContents& contents) {
  std::string error;
  if (!files.OpenForReading(path, error)) {
    if (error.empty()) return true;  // no such file
    contents.error = error;
    return false;
  }
  contents.found = true;
  std::string line;
  bool overlong = false;
  int number = 0;
  const auto endOfLine = [&] {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (overlong) {
      ++contents.skipped;
      contents.notes.push_back("line " + std::to_string(number) + " of " + path +
                               " is longer than " + std::to_string(kMaxRecordLineBytes / 1024) +
                               " KiB: skipped");
    } else if (!line.empty()) {
      if (auto entry = ParseFlashRecordLine(line)) {
        contents.entries.push_back(std::move(*entry));
      } else {
        ++contents.skipped;
        contents.notes.push_back("line " + std::to_string(number) + " of " + path +
                                 " is incomplete or not a record (cut off?): skipped");
      }
    }
    line.clear();
    overlong = false;
  };
  char buffer[16 * 1024];
  std::uint64_t total = 0;
  for (;;) {
    const long got = files.Read(buffer, sizeof buffer, error);
    if (got < 0) {
      contents.error = error;
      files.CloseReading();
      return false;
    }
    if (got == 0) break;
    for (long i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        endOfLine();
      } else if (overlong || line.size() >= kMaxRecordLineBytes) {
        overlong = true;
        line.clear();
      } else {
        line += buffer[i];
      }
    }
    total += static_cast<std::uint64_t>(got);
    if (total >= kMaxReadBytes) {
      contents.notes.push_back(path + " is larger than " +
                               std::to_string(kMaxReadBytes / (1024 * 1024)) +
                               " MiB: read no further");
      line.clear();
      overlong = false;
      break;
    }
  }
  if (!line.empty() || overlong) endOfLine();
  files.CloseReading();
  return true;
}

}  // namespace

std::string UtcTimeText(std::int64_t seconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &t);
#else
  gmtime_r(&t, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string FlashRecordLine(const FlashRecordEntry& e) {
  // Bytes that are no UTF-8 (a machine's answer can hold any) are replaced: a record line must
  // always be written, and always be readable.
  return JsonObject()
      .Add("schema", kFlashRecordSchema)
      .Add("time", e.time)
      .Add("program", e.program)
      .Add("version", e.version)
      .Add("machine", e.machine)
      .Add("link", e.link)
      .Add("file", e.file)
      .Add("fileSha256", e.fileSha256)
      .Add("sentSha256", e.sentSha256)
      .Add("target", e.target)
      .Add("bytes", e.bytes)
      .Add("blocks", e.blocks)
      .Add("blocksAcknowledged", e.blocksAcknowledged)
      .Add("outcome", e.outcome)
      .Add("status", e.status)
      .Add("verdict", e.verdict)
      .AddRaw("seconds", JsonObject()
                             .Add("query", Rounded(e.querySeconds))
                             .Add("blocks", Rounded(e.blockSeconds))
                             .Add("verdict", Rounded(e.verdictSeconds))
                             .str())
      .str();
}

std::optional<FlashRecordEntry> ParseFlashRecordLine(std::string_view line) {
  const auto json = JsonFields::Parse(line);
  if (!json) return std::nullopt;
  // Time and outcome make an entry; a field of another type is taken as missing.
  auto time = json->String("time");
  auto outcome = json->String("outcome");
  if (!time || !outcome) return std::nullopt;
  FlashRecordEntry e;
  const auto schema = json->Unsigned("schema").value_or(1);
  e.schema = schema > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(schema);
  e.time = std::move(*time);
  e.outcome = std::move(*outcome);
  e.program = json->String("program").value_or("");
  e.version = json->String("version").value_or("");
  e.machine = json->String("machine").value_or("");
  e.link = json->String("link").value_or("");
  e.file = json->String("file").value_or("");
  e.fileSha256 = json->String("fileSha256").value_or("");
  e.sentSha256 = json->String("sentSha256").value_or("");
  e.target = json->String("target").value_or("");
  e.bytes = Count(*json, "bytes");
  e.blocks = Count(*json, "blocks");
  e.blocksAcknowledged = Count(*json, "blocksAcknowledged");
  e.status = json->String("status").value_or("");
  e.verdict = json->String("verdict").value_or("");
  if (const auto seconds = json->Object("seconds")) {
    e.querySeconds = seconds->Number("query").value_or(0.0);
    e.blockSeconds = seconds->Number("blocks").value_or(0.0);
    e.verdictSeconds = seconds->Number("verdict").value_or(0.0);
  }
  // Seconds are never negative, and a billion at most: beyond that rounding them for the line
  // would overflow.
  for (const double span : {e.querySeconds, e.blockSeconds, e.verdictSeconds}) {
    if (!(span >= 0 && span <= 1e9)) return std::nullopt;
  }
  return e;
}

bool AppendRecordLine(RecordFiles& files, const std::string& path, const std::string& line,
                      std::uint64_t rotateBytes, std::string& error) {
  // A lock file of its own: the record file itself is renamed away when it is rotated.
  const LockHeld held(files);
  if (!TakeLock(files, path + ".lock", /*exclusive=*/true, error)) return false;
  std::string text = line + '\n';
  auto size = files.Size(path, error);
  if (!size) return false;
  if (*size > 0 && *size + text.size() > rotateBytes) {
    // The older file goes. A failed rename only lets the file grow.
    std::string ignored;
    if (files.Rename(path, path + ".1", ignored)) *size = 0;
  }
  if (*size > 0 && files.LastByte(path).value_or('\n') != '\n') text.insert(text.begin(), '\n');
  return files.AppendDurably(path, text, error);
}

bool FileFlashRecord::Append(const FlashRecordEntry& entry, std::string& error) {
  RecordFiles files;
  const std::string folder = FolderOf(path_);
  if (!folder.empty() && !files.MakePrivateFolder(folder, error)) return false;
  return AppendRecordLine(files, path_, FlashRecordLine(entry), kRotateBytes, error);
}

FlashRecordContents ReadFlashRecord(RecordFiles& files, const std::string& path) {
  FlashRecordContents contents;
  const LockHeld held(files);
  // Shared with other readers, never while a writer appends or rotates. A record whose lock
  // cannot be had (another user's, a stuck writer) is still shown, with a note.
  std::string lockError;
  const bool locked = TakeLock(files, path + ".lock", /*exclusive=*/false, lockError);
  if (ReadLines(files, path + ".1", contents)) ReadLines(files, path, contents);
  if (!locked && contents.found) {
    contents.notes.push_back("read without the writers' lock: " + lockError);
  }
  return contents;
}

FlashRecordContents ReadFlashRecord(const std::string& path) {
  RecordFiles files;
  return ReadFlashRecord(files, path);
}

FlashRecordEntry StartedEntry(const FlashRecordEntry& entry) {
  FlashRecordEntry started = entry;
  started.outcome = kStartedOutcome;
  return started;
}

std::vector<FlashRecordEntry> RecordedTransfers(const std::vector<FlashRecordEntry>& entries) {
  using Key = std::tuple<std::string, std::string, std::string, std::string, std::string>;
  const auto keyOf = [](const FlashRecordEntry& e) {
    return Key(e.time, e.program, e.link, e.file, e.target);
  };
  // From the newest back: each start takes the first outcome line written after it.
  std::map<Key, int> outcomesAfter;
  std::vector<FlashRecordEntry> transfers;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (it->outcome != kStartedOutcome) {
      ++outcomesAfter[keyOf(*it)];
      transfers.push_back(*it);
      continue;
    }
    int& after = outcomesAfter[keyOf(*it)];
    if (after > 0) {
      --after;
      continue;
    }
    transfers.push_back(*it);
    transfers.back().outcome = kDidNotFinishOutcome;
  }
  std::reverse(transfers.begin(), transfers.end());
  return transfers;
}

TransferRecorder::TransferRecorder(std::function<double()> seconds)
    : seconds_(std::move(seconds)) {}

void TransferRecorder::PhaseStarted(FlashPhase phase) {
  phaseStart_[static_cast<int>(phase)] = seconds_();
}

void TransferRecorder::BlockAcknowledged(std::uint32_t index, std::uint32_t /*blocks*/) {
  acknowledged_ = index + 1;
}

void TransferRecorder::VerdictReceived(std::string_view answer) {
  verdict_ = std::string(answer);
}

void TransferRecorder::Finish(FlashOutcome outcome, const std::string& status,
                              FlashRecordEntry& entry) {
  const double end = seconds_();
  // Each phase lasts until the next one starts, the last one until now.
  double* const spans[3] = {&entry.querySeconds, &entry.blockSeconds, &entry.verdictSeconds};
  for (int phase = 0; phase < 3; ++phase) {
    if (phaseStart_[phase] < 0) continue;
    double until = end;
    for (int next = phase + 1; next < 3; ++next) {
      if (phaseStart_[next] >= 0) {
        until = phaseStart_[next];
        break;
      }
    }
    *spans[phase] = until - phaseStart_[phase];
  }
  entry.blocksAcknowledged = acknowledged_;
  entry.verdict = verdict_;
  entry.outcome = FlashOutcomeName(outcome);
  entry.status = status;
}

}  // namespace loadwing
