#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "app/flash_record.h"
#include "app/main_dialog_fixture.h"

namespace loadwing::testing {
namespace {

// Two programs appending at once: every line arrives whole, none is lost, across rotations.
TEST(FlashRecordPosixTest, TwoProcessesNeverInterleaveOrLoseLines) {
  main_dialog_tests::TempFolder folder;
  const std::string path = folder.PathOf("record.jsonl");
  constexpr int kEach = 300;
  pid_t children[2];
  for (int writer = 0; writer < 2; ++writer) {
    children[writer] = fork();
    ASSERT_GE(children[writer], 0);
    if (children[writer] == 0) {
      FlashRecordEntry entry;
      entry.time = UtcTimeText(0);
      entry.outcome = "completed";
      entry.file = std::string(200, static_cast<char>('a' + writer));  // long lines
      bool ok = true;
      for (int i = 0; i < kEach; ++i) {
        entry.blocksAcknowledged = static_cast<std::uint32_t>(i);
        std::string error;
        ok = AppendRecordLine(path, FlashRecordLine(entry), 1u << 20, error) && ok;
      }
      _exit(ok ? 0 : 1);
    }
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const FlashRecordContents contents = ReadFlashRecord(path);
  EXPECT_TRUE(contents.notes.empty()) << contents.notes.front();
  ASSERT_EQ(contents.entries.size(), 2u * kEach);
  int next[2] = {0, 0};
  for (const FlashRecordEntry& entry : contents.entries) {
    const int writer = entry.file[0] - 'a';
    ASSERT_TRUE(writer == 0 || writer == 1);
    EXPECT_EQ(entry.blocksAcknowledged, static_cast<std::uint32_t>(next[writer]++));
  }
}

}  // namespace
}  // namespace loadwing::testing
