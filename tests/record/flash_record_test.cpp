#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "core/sha256.h"
#include "fakes/fake_flash_record.h"
#include "fakes/temp_folder.h"
#include "record/flash_record.h"

namespace loadwing::testing {
namespace {

FlashRecordEntry SampleEntry(int n) {
  FlashRecordEntry e;
  e.time = UtcTimeText(1'765'195'888 + n);
  e.program = "loadwing";
  e.machine = "FF-2291";
  e.link = "COM3";
  e.file =
      "C:\\fw\\M\xC3\xA4"
      "rz\"3\".mot";  // a quote, a backslash and a non-ASCII letter
  e.target = "Module3";
  e.blocks = 128;
  e.blocksAcknowledged = static_cast<std::uint32_t>(n);
  e.outcome = "no-success";
  e.status = " flash: no success, returncode: \x01\xFF";  // any byte a machine may answer
  e.querySeconds = 1.5;
  return e;
}

TEST(FlashRecordTest, LinesReadBackAndUtcTimeIsExact) {
  EXPECT_EQ(UtcTimeText(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(UtcTimeText(1'765'195'888), "2025-12-08T12:11:28Z");
  const FlashRecordEntry written = SampleEntry(7);
  const std::string line = FlashRecordLine(written);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(line.rfind("{\"schema\":2,", 0), 0u) << line;
  const auto read = ParseFlashRecordLine(line);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->file, written.file);  // UTF-8 as it was
  EXPECT_EQ(read->machine, "FF-2291");
  EXPECT_EQ(read->schema, 2u);
  EXPECT_EQ(read->blocksAcknowledged, 7u);
  EXPECT_EQ(read->querySeconds, 1.5);
  // A byte that is no UTF-8 becomes U+FFFD; the rest stays.
  EXPECT_EQ(read->status, " flash: no success, returncode: \x01\xEF\xBF\xBD");
  // A line of the first format: no schema, no machine.
  const auto old = ParseFlashRecordLine(R"({"time":"t","outcome":"completed","blocks":4})");
  ASSERT_TRUE(old);
  EXPECT_EQ(old->schema, 1u);
  EXPECT_EQ(old->blocks, 4u);
  for (const char* notAnEntry :
       {"", "{", "[1,2]", "{\"time\":3,\"outcome\":\"x\"}",
        "{\"time\":\"t\",\"outcome\":\"x\"} trailing",
        "{\"time\":\"\",\"outcome\":\"x\",\"seconds\":{\"query\":1e300}}",
        "{\"time\":\"\",\"outcome\":\"x\",\"seconds\":{\"blocks\":-1.2}}"}) {
    EXPECT_FALSE(ParseFlashRecordLine(notAnEntry)) << notAnEntry;
  }
}

// A start followed by its outcome is one transfer; a start with none did not finish.
TEST(FlashRecordTest, StartsPairWithTheirOutcomes) {
  FlashRecordEntry a = SampleEntry(1);
  FlashRecordEntry b = SampleEntry(2);
  FlashRecordEntry c = SampleEntry(3);
  const auto started = [](FlashRecordEntry e) { return StartedEntry(e); };
  const auto transfers = RecordedTransfers({started(a), a, started(b), started(c), c});
  ASSERT_EQ(transfers.size(), 3u);
  EXPECT_EQ(transfers[0].outcome, "no-success");
  EXPECT_EQ(transfers[1].outcome, kDidNotFinishOutcome);
  EXPECT_EQ(transfers[1].blocksAcknowledged, 2u);
  EXPECT_EQ(transfers[2].outcome, "no-success");
  // Two starts of the same key with one outcome: the earlier one did not finish.
  const auto twice = RecordedTransfers({started(a), started(a), a});
  ASSERT_EQ(twice.size(), 2u);
  EXPECT_EQ(twice[0].outcome, kDidNotFinishOutcome);
  EXPECT_EQ(twice[1].outcome, "no-success");
}

// A power loss cuts the last line: reading skips it with a note, and the next entry written
// after it still stands on a line of its own.
TEST(FlashRecordTest, CutLineIsSkippedAndTheNextEntryStaysWhole) {
  TempFolder folder;
  FileFlashRecord record(folder.PathOf("state/loadwing/flash-record.jsonl"));
  std::string error;
  ASSERT_TRUE(record.Append(SampleEntry(1), error)) << error;
  const std::string whole = FlashRecordLine(SampleEntry(2));
  std::ofstream(record.Path(), std::ios::binary | std::ios::app) << whole.substr(0, 40);
  ASSERT_TRUE(record.Append(SampleEntry(3), error)) << error;

  const FlashRecordContents contents = ReadFlashRecord(record.Path());
  ASSERT_EQ(contents.entries.size(), 2u);
  EXPECT_EQ(contents.entries[0].blocksAcknowledged, 1u);
  EXPECT_EQ(contents.entries[1].blocksAcknowledged, 3u);
  ASSERT_EQ(contents.notes.size(), 1u);
  EXPECT_NE(contents.notes[0].find("line 2"), std::string::npos) << contents.notes[0];
}

TEST(FlashRecordTest, RotatesKeepingOneOlderFile) {
  TempFolder folder;
  const std::string path = folder.PathOf("record.jsonl");
  const std::string line = FlashRecordLine(SampleEntry(0));
  const std::uint64_t limit = 3 * (line.size() + 1);  // three lines a file
  std::string error;
  CountingRecordFiles files;
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(AppendRecordLine(files, path, FlashRecordLine(SampleEntry(i)), limit, error))
        << error;
  }
  // 0-2 went with the first rotation, 3-5 are the older file, 6-7 the current one.
  const FlashRecordContents contents = ReadFlashRecord(path);
  ASSERT_EQ(contents.entries.size(), 5u);
  EXPECT_EQ(contents.entries.front().blocksAcknowledged, 3u);
  EXPECT_EQ(contents.entries.back().blocksAcknowledged, 7u);
  EXPECT_EQ(files.pausedMs, 0);
}

// A line without an end longer than the cap is passed over, not held in memory; what follows
// is read.
TEST(FlashRecordTest, OverlongLineIsSkippedWithANote) {
  TempFolder folder;
  const std::string path =
      folder.Write("record.jsonl", std::string(kMaxRecordLineBytes + 1, 'x') + "\n" +
                                       FlashRecordLine(SampleEntry(4)) + "\n" +
                                       std::string(3 * kMaxRecordLineBytes, '{'));
  const FlashRecordContents contents = ReadFlashRecord(path);
  ASSERT_EQ(contents.entries.size(), 1u);
  EXPECT_EQ(contents.entries[0].blocksAcknowledged, 4u);
  ASSERT_EQ(contents.notes.size(), 2u);
  EXPECT_EQ(contents.skipped, 2u);
  EXPECT_NE(contents.notes[0].find("line 1 of " + path + " is longer than 64 KiB"),
            std::string::npos)
      << contents.notes[0];
  EXPECT_NE(contents.notes[1].find("line 3"), std::string::npos) << contents.notes[1];
}

TEST(FlashRecordTest, UnwritablePlaceIsAnErrorNotAFailure) {
  TempFolder folder;
  // A file where the folder should be: no one, not even root, can create the record there.
  const std::string blocker = folder.Write("blocker", "x");
  FileFlashRecord record(blocker + "/loadwing/flash-record.jsonl");
  std::string error;
  EXPECT_FALSE(record.Append(SampleEntry(1), error));
  EXPECT_NE(error.find("blocker"), std::string::npos) << error;
  EXPECT_FALSE(ReadFlashRecord(record.Path()).found);
}

// Known answers of the platform's SHA-256.
TEST(Sha256Test, KnownDigests) {
  const std::string abc = "abc";
  const std::string million(1'000'000, 'a');
  const struct {
    const std::string* text;
    const char* digest;
  } cases[] = {
      {&abc, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {&million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    const auto digest =
        Sha256Of(reinterpret_cast<const std::uint8_t*>(c.text->data()), c.text->size());
    ASSERT_TRUE(digest);
    EXPECT_EQ(Sha256Hex(*digest), c.digest);
    EXPECT_TRUE(SameSha256Text(c.digest, Sha256Hex(*digest)));
  }
  EXPECT_EQ(Sha256Hex(*Sha256Of(nullptr, 0)),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_FALSE(IsSha256Text("abc"));
  EXPECT_FALSE(SameSha256Text(std::string(64, 'g'), std::string(64, 'g')));
}

}  // namespace
}  // namespace loadwing::testing
