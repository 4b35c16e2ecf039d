#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fakes/fake_flash_record.h"
#include "fakes/temp_folder.h"
#include "record/flash_record.h"

namespace loadwing::testing {
namespace {

FlashRecordEntry Entry(char writer, int i) {
  FlashRecordEntry entry;
  entry.time = UtcTimeText(0);
  entry.outcome = "completed";
  entry.file = std::string(200, writer);  // long lines
  entry.blocksAcknowledged = static_cast<std::uint32_t>(i);
  return entry;
}

// Two programs appending at once, the file rotating many times under them: every line arrives
// whole, and what is kept of each writer is its last lines without a gap (a rotation racing
// another writer's append would drop a file from the middle).
TEST(FlashRecordPosixTest, TwoWritersAcrossRotationsNeverInterleaveOrLeaveGaps) {
  TempFolder folder;
  const std::string path = folder.PathOf("record.jsonl");
  constexpr int kEach = 150;
  const std::uint64_t limit = 20 * (FlashRecordLine(Entry('a', 0)).size() + 1);
  pid_t children[2];
  for (int writer = 0; writer < 2; ++writer) {
    children[writer] = fork();
    ASSERT_GE(children[writer], 0);
    if (children[writer] == 0) {
      // Each append is tried until it goes in: a writer in so tight a loop can keep the other
      // from the lock past its time limit, which is not what this test is about.
      RecordFiles files;
      for (int i = 0; i < kEach; ++i) {
        const std::string line = FlashRecordLine(Entry(static_cast<char>('a' + writer), i));
        std::string error;
        int tries = 0;
        while (!AppendRecordLine(files, path, line, limit, error)) {
          if (error.find("another program holds") == std::string::npos || ++tries == 50) _exit(1);
        }
      }
      _exit(0);
    }
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const FlashRecordContents contents = ReadFlashRecord(path);
  EXPECT_TRUE(contents.notes.empty()) << contents.notes.front();
  // Between one and two files' worth is kept: the rotation was reached.
  EXPECT_GT(contents.entries.size(), 20u);
  EXPECT_LE(contents.entries.size(), 40u);
  int next[2] = {-1, -1};
  for (const FlashRecordEntry& entry : contents.entries) {
    const int writer = entry.file[0] - 'a';
    ASSERT_TRUE(writer == 0 || writer == 1);
    const int i = static_cast<int>(entry.blocksAcknowledged);
    if (next[writer] >= 0) {
      EXPECT_EQ(i, next[writer]) << "a gap in writer " << writer;
    }
    next[writer] = i + 1;
  }
  EXPECT_TRUE(next[0] == -1 || next[0] == kEach) << next[0];
  EXPECT_TRUE(next[1] == -1 || next[1] == kEach) << next[1];
}

// Someone holds the lock file (a reader's shared lock, or a user who can open it): the writer
// gives up after 200 ms, never seconds, and says why.
TEST(FlashRecordPosixTest, HeldLockIsWaitedForTwoHundredMillisecondsOnly) {
  TempFolder folder;
  const std::string path = folder.PathOf("record.jsonl");
  const int held = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(held, 0);
  for (const int kind : {LOCK_SH, LOCK_EX}) {
    ASSERT_EQ(::flock(held, kind), 0);
    CountingRecordFiles files;
    std::string error;
    EXPECT_FALSE(AppendRecordLine(files, path, "{}", 1u << 20, error));
    EXPECT_EQ(files.pausedMs, kLockWaitMs);
    EXPECT_NE(error.find("another program holds " + path + ".lock"), std::string::npos) << error;
  }
  // A reader is held off by a writer only, and still shows the record, with a note.
  ASSERT_EQ(::flock(held, LOCK_SH), 0);
  CountingRecordFiles reader;
  EXPECT_TRUE(ReadFlashRecord(reader, path).notes.empty());
  EXPECT_EQ(reader.pausedMs, 0);
  {
    std::string error;
    RecordFiles writer;
    ::flock(held, LOCK_UN);
    ASSERT_TRUE(AppendRecordLine(writer, path, FlashRecordLine(Entry('a', 1)), 1u << 20, error));
  }
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const FlashRecordContents contents = ReadFlashRecord(reader, path);
  EXPECT_EQ(contents.entries.size(), 1u);
  ASSERT_EQ(contents.notes.size(), 1u);
  EXPECT_NE(contents.notes[0].find("read without the writers' lock"), std::string::npos);
  ::close(held);
}

// Only the user reads what went into which machine, whatever the umask; a link planted where
// the lock file goes is not followed.
TEST(FlashRecordPosixTest, RecordIsPrivateAndFollowsNoLink) {
  TempFolder folder;
  const mode_t before = ::umask(0);
  FileFlashRecord record(folder.PathOf("state/loadwing/flash-record.jsonl"));
  std::string error;
  const bool written = record.Append(Entry('a', 0), error);
  ::umask(before);
  ASSERT_TRUE(written) << error;
  namespace fs = std::filesystem;
  for (const char* name : {"state", "state/loadwing"}) {
    EXPECT_EQ(fs::status(folder.PathOf(name)).permissions(), fs::perms::owner_all) << name;
  }
  for (const std::string& file : {record.Path(), record.Path() + ".lock"}) {
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << file;
  }

  // A record an older version left open to everyone is closed when next written.
  fs::permissions(folder.PathOf("state/loadwing"), fs::perms::all);
  fs::permissions(record.Path(), fs::perms::all);
  ASSERT_TRUE(record.Append(Entry('a', 1), error)) << error;
  EXPECT_EQ(fs::status(folder.PathOf("state/loadwing")).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(record.Path()).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);

  const std::string victim = folder.Write("victim", "");
  fs::remove(record.Path() + ".lock");
  fs::create_symlink(victim, record.Path() + ".lock");
  EXPECT_FALSE(record.Append(Entry('a', 1), error));
  EXPECT_NE(error.find(".lock"), std::string::npos) << error;
}

// A record that is there but cannot be read is an error naming it, at once; never an empty
// record, never a wait.
TEST(FlashRecordPosixTest, UnreadableRecordIsAnErrorNamingTheFile) {
  TempFolder folder;
  const struct {
    const char* name;
    void (*make)(const std::string& path);
    const char* reason;
  } cases[] = {
      {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
       "no regular file"},
      {"folder", [](const std::string& p) { std::filesystem::create_directory(p); },
       "no regular file"},
      {"link", [](const std::string& p) { std::filesystem::create_symlink("/etc/hostname", p); },
       "Too many levels of symbolic links"},
  };
  for (const auto& c : cases) {
    const std::string path = folder.PathOf(c.name);
    c.make(path);
    const FlashRecordContents contents = ReadFlashRecord(path);
    EXPECT_NE(contents.error.find(path), std::string::npos) << c.name << ": " << contents.error;
    EXPECT_NE(contents.error.find(c.reason), std::string::npos) << c.name << ": " << contents.error;
  }
}

}  // namespace
}  // namespace loadwing::testing
