#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "fakes/temp_folder.h"
#include "record/flash_record.h"

namespace loadwing::testing {
namespace {

// A user named Jürgen: the record goes into his profile under that very name, read back
// through the same UTF-8 path, and no second folder with a garbled name appears beside it.
TEST(RecordWin32Test, NonAsciiProfileGetsItsRecord) {
  TempFolder folder;
  const std::wstring base = folder.Path().wstring();
  const std::wstring local = base + L"\\J\u00FCrgen\\AppData\\Local";
  ASSERT_TRUE(CreateDirectoryW((base + L"\\J\u00FCrgen").c_str(), nullptr));
  ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", local.c_str()));

  std::string error;
  const std::string path = DefaultFlashRecordPath(error);
  ASSERT_NE(path.find("\\J\xC3\xBCrgen\\AppData\\Local\\Loadwing\\flash-record.jsonl"),
            std::string::npos)
      << path;
  FlashRecordEntry entry;
  entry.time = UtcTimeText(0);
  entry.outcome = "completed";
  entry.file = "C:\\Users\\J\xC3\xBCrgen\\fw.mot";
  ASSERT_TRUE(FileFlashRecord(path).Append(entry, error)) << error;

  EXPECT_NE(GetFileAttributesW((local + L"\\Loadwing\\flash-record.jsonl").c_str()),
            INVALID_FILE_ATTRIBUTES);
  const FlashRecordContents contents = ReadFlashRecord(path);
  EXPECT_TRUE(contents.error.empty()) << contents.error;
  ASSERT_EQ(contents.entries.size(), 1u);
  EXPECT_EQ(contents.entries[0].file, entry.file);
  int names = 0;
  for (const auto& item : std::filesystem::directory_iterator(folder.Path())) {
    EXPECT_EQ(item.path().filename().wstring(), L"J\u00FCrgen");
    ++names;
  }
  EXPECT_EQ(names, 1);
}

}  // namespace
}  // namespace loadwing::testing
