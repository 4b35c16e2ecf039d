#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_firmware_files.h"
#include "fakes/record_text.h"
#include "fakes/temp_folder.h"
#include "firmware/firmware_loader.h"

namespace loadwing {
namespace {

using namespace loadwing::testing;
namespace fs = std::filesystem;

const char kError1[] = " load firmware: can't open file, error 1";
const char kError2[] = " load firmware: can't open file, error 2";
const char kError4[] = " load firmware: can't open file, error 4";
const char kError5[] = " load firmware: can't open file, error 5";
const char kError6[] = " load firmware: can't open file, error 6";
const char kError7[] = " load firmware: can't open file, error 7";
const char kTooBig[] = " load firmware: file is too big";
const char kInvalid[] = " load firmware: invalid firmware file";
const char kUnexpectedEnd[] = " load firmware: unexpected end of file";
const char kReadError[] = " load firmware: read error";
const char kMainLoaded[] = " firmware for Fanfolder/Crossfolder loaded";

std::unique_ptr<FirmwareImage> PatternImage() {
  auto image = std::make_unique<FirmwareImage>();
  for (std::size_t i = 0; i < image->data.size(); ++i) {
    image->data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  image->target = FirmwareTarget::WebC;  // as if something had been loaded before
  return image;
}

bool HoldsPattern(const FirmwareImage& image) {
  for (std::size_t i = 0; i < image.data.size(); ++i) {
    if (image.data[i] != static_cast<std::uint8_t>(i * 7 + 3)) return false;
  }
  return true;
}

// An S-record file of exactly size bytes: the given records, then blank lines up to the size.
std::string PaddedTo(const std::string& records, std::size_t size, const std::string& tail = "") {
  std::string text = records;
  text.append(size - records.size() - tail.size(), '\n');
  return text + tail;
}

// A folder of its own, removed with the fixture.
class FirmwareLoaderFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out << content;
    return path.string();
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  testing::TempFolder folder_;
  const fs::path& dir_ = folder_.Path();
};

// ---- extension ----

TEST(FirmwareExtensionTest, MotInAnyCaseMeansSRecords) {
  struct Case {
    const char* path;
    const char* extension;
    bool sRecords;
  };
  const Case cases[] = {
      {"fw.mot", "mot", true},        {"fw.MOT", "MOT", true},
      {"fw.Mot", "Mot", true},        {"c:\\dir\\fw.mOt", "mOt", true},
      {"/a/b.hex.mot", "mot", true},  {".mot", "mot", true},
      {"fw.hex", "hex", false},       {"fw.HEX", "HEX", false},
      {"fw.s19", "s19", false},       {"fw", "", false},
      {"fw.mot.", "", false},         {"fw.mott", "mott", false},
      {"fw.mo", "mo", false},         {"/dir.mot/fw", "", false},
      {"c:\\dir.mot\\fw", "", false}, {"c:\\dir.x/fw.mot", "mot", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FirmwareFileExtension(c.path), c.extension) << c.path;
    EXPECT_EQ(IsSRecordFile(c.path), c.sRecords) << c.path;
  }
}

// ---- whole files ----

struct FileCase {
  const char* name;
  std::string content;
  const char* statusText;
  FirmwareTarget target;
};

TEST_F(FirmwareLoaderFileTest, FilesEndInTheirStatusAndTarget) {
  const std::string webC = kWebC + "\r\n" + kS8 + "\r\n";
  const std::string mainHex = IntelRecord(0, 0, Text("WebC")) + "\r\n" + kIntelEnd + "\r\n";
  const FileCase cases[] = {
      {"webc.mot", webC, " firmware for WebC loaded", FirmwareTarget::WebC},
      {"upper.MOT", S2Record(0x400, Text("Mod5xyz")) + kS8, " firmware for module 5 loaded",
       FirmwareTarget::Module5},
      {"mixed.Mot", S2Record(0x0, Text("CAN!")) + kS8, " firmware CAN module loaded",
       FirmwareTarget::CanModule},
      {"can3.mot", S2Record(0x0, Text("CAN")) + kS8, " firmware CAN module loaded",
       FirmwareTarget::CanModule},
      {"lower.mot", S2Record(0x0, Text("webc")) + kS8, kInvalid, FirmwareTarget::None},
      {"blank.mot", S2Record(0x0, Text(" Mod1")) + kS8, kInvalid, FirmwareTarget::None},
      {"mod8.mot", S2Record(0x0, Text("Mod8")) + kS8, kInvalid, FirmwareTarget::None},
      {"late-marker.mot", S2Record(0x0, Text("xx")) + S2Record(0x2, Text("WebC")) + kS8,
       " load firmware: invalid firmware file", FirmwareTarget::None},
      {"no-s2.mot", "S1050000AABB95\n" + kS8, kInvalid, FirmwareTarget::None},
      {"empty.mot", "", kError5, FirmwareTarget::None},
      {"no-s8.mot", kWebC + "\nS9030000FC\n", kError5, FirmwareTarget::None},
      {"bad-sum.mot", S2Record(0x0, Text("WebC"), 1) + kS8, kError6, FirmwareTarget::None},
      {"misplaced.mot", kWebC + S2Record(0x30000, {1}) + kS8, kError7, FirmwareTarget::None},
      {"short-count.mot", kWebC + "S2030100" + kS8, kError7, FirmwareTarget::None},
      {"main.hex", mainHex, kMainLoaded, FirmwareTarget::FanfolderCrossfolder},
      {"MAIN.HEX", mainHex, kMainLoaded, FirmwareTarget::FanfolderCrossfolder},
      {"no-extension", mainHex, kMainLoaded, FirmwareTarget::FanfolderCrossfolder},
      {"srecords.s19", webC, kUnexpectedEnd, FirmwareTarget::None},
      {"empty.hex", "", kUnexpectedEnd, FirmwareTarget::None},
      {"no-end.hex", IntelRecord(0, 0, {1}) + "\n", kUnexpectedEnd, FirmwareTarget::None},
      {"bad-sum.hex", IntelRecord(0, 0, {1}, -1) + kIntelEnd, kReadError, FirmwareTarget::None},
      {"above-64k.hex", IntelRecord(0, 0, {1}) + IntelRecord(4, 0, {0, 1}) + kIntelEnd, kError7,
       FirmwareTarget::None},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = PatternImage();
    const LoadOutcome outcome = LoadFirmwareFile(Write(c.name, c.content), *image);
    EXPECT_EQ(outcome.statusText, c.statusText);
    EXPECT_EQ(outcome.target, c.target);
    EXPECT_EQ(image->target, c.target);
  }
}

TEST_F(FirmwareLoaderFileTest, EveryModuleMarkerNamesItsModule) {
  for (int module = 0; module <= 7; ++module) {
    const std::string marker = "Mod" + std::to_string(module);
    auto image = PatternImage();
    const LoadOutcome outcome =
        LoadFirmwareFile(Write(marker + ".mot", S2Record(0x8000, Text(marker)) + kS8), *image);
    EXPECT_EQ(outcome.statusText, " firmware for module " + std::to_string(module) + " loaded");
    EXPECT_EQ(static_cast<int>(outcome.target), 10 + module);
  }
}

TEST_F(FirmwareLoaderFileTest, MissingFilesAreNotOpenedAndLeaveTheImage) {
  for (const char* name : {"missing.mot", "missing.hex", "missing"}) {
    SCOPED_TRACE(name);
    auto image = PatternImage();
    const LoadOutcome outcome = LoadFirmwareFile(PathOf(name), *image);
    EXPECT_EQ(outcome.statusText, kError1);
    EXPECT_EQ(image->target, FirmwareTarget::None);
    EXPECT_TRUE(HoldsPattern(*image));
  }
}

TEST_F(FirmwareLoaderFileTest, AFolderIsNotOpenedAsAFile) {
  for (const char* name : {"folder.mot", "folder.hex"}) {
    SCOPED_TRACE(name);
    fs::create_directories(dir_ / name);
    auto image = PatternImage();
    EXPECT_EQ(LoadFirmwareFile(PathOf(name), *image).statusText, kError1);
    EXPECT_TRUE(HoldsPattern(*image));
  }
}

TEST_F(FirmwareLoaderFileTest, SizeLimitIsInclusive) {
  const std::string records = kWebC + "\r\n" + kS8 + "\r\n";
  auto image = PatternImage();
  const LoadOutcome fits =
      LoadFirmwareFile(Write("limit.mot", PaddedTo(records, kSRecordTextBufferSize)), *image);
  EXPECT_EQ(fits.statusText, " firmware for WebC loaded");

  image = PatternImage();
  const LoadOutcome tooBig =
      LoadFirmwareFile(Write("over.mot", PaddedTo(records, kSRecordTextBufferSize + 1)), *image);
  EXPECT_EQ(tooBig.statusText, kTooBig);
  EXPECT_EQ(image->target, FirmwareTarget::None);
  EXPECT_TRUE(HoldsPattern(*image));
}

// A file that fills the buffer has no zero after it: the buffer's end ends its text.
TEST_F(FirmwareLoaderFileTest, FullBufferEndsAtItsEnd) {
  struct Case {
    const char* tail;
    const char* statusText;
  };
  const Case cases[] = {
      {"S8", " firmware for WebC loaded"},
      {"S", kError5},
      {"S2080100", kError5},
      {"S20801000057656243", kError5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    auto image = PatternImage();
    const std::string content = PaddedTo(kWebC + "\n", kSRecordTextBufferSize, c.tail);
    ASSERT_EQ(content.size(), kSRecordTextBufferSize);
    EXPECT_EQ(LoadFirmwareFile(Write("full.mot", content), *image).statusText, c.statusText);
  }
}

TEST_F(FirmwareLoaderFileTest, IntelHexKeepsTheUpperHalfOfTheImage) {
  auto image = PatternImage();
  const LoadOutcome outcome =
      LoadFirmwareFile(Write("main.hex", IntelRecord(0, 0x10, {0x42}) + kIntelEnd), *image);
  ASSERT_EQ(outcome.target, FirmwareTarget::FanfolderCrossfolder);
  for (std::size_t i = 0; i < kFirmwareImageSize; ++i) {
    const std::uint8_t expected =
        i == 0x10 ? 0x42 : (i < 0x10000 ? 0xFF : static_cast<std::uint8_t>(i * 7 + 3));
    ASSERT_EQ(image->data[i], expected) << "offset " << i;
  }
}

TEST_F(FirmwareLoaderFileTest, LargeIntelHexFilesAreReadUpToTheLimit) {
  std::string records;
  const std::string record = IntelRecord(0, 0x1230, Counting(16, 0x80)) + "\r\n";
  while (records.size() < 3'000'000) records += record;
  records += kIntelEnd + "\r\n";
  for (const std::size_t size : {kIntelHexFileLimit, kIntelHexFileLimit + 1}) {
    SCOPED_TRACE(size);
    const std::string content = records + std::string(size - records.size(), '\n');
    LoadDetails details;
    auto image = PatternImage();
    const LoadOutcome outcome = LoadFirmwareFile(Write("large.hex", content), *image,
                                                 PlatformFirmwareFileSystem(), &details);
    if (size > kIntelHexFileLimit) {
      EXPECT_EQ(outcome.failure, LoadFailure::TooBig);
      EXPECT_TRUE(details.fileBytes.empty());  // refused before it was read
      continue;
    }
    EXPECT_EQ(outcome.statusText, kMainLoaded);
    EXPECT_EQ(details.hexStatistics.dataRecords,
              (records.size() - kIntelEnd.size() - 2) / record.size());
    EXPECT_EQ(details.fileBytes.size(), size);
    EXPECT_EQ(image->data[0x1230], 0x80);
  }
}

TEST_F(FirmwareLoaderFileTest, AFailedLoadAfterASuccessfulOneGivesUpTheTarget) {
  auto image = PatternImage();
  ASSERT_EQ(LoadFirmwareFile(Write("good.mot", kWebC + kS8), *image).target, FirmwareTarget::WebC);
  EXPECT_EQ(LoadFirmwareFile(Write("bad.hex", "no records"), *image).statusText, kUnexpectedEnd);
  EXPECT_EQ(image->target, FirmwareTarget::None);
}

// ---- each step of the S-record branch made to fail ----

struct StepCase {
  const char* name;
  std::function<void(FakeFirmwareFileSystem&)> arrange;
  const char* statusText;
  std::size_t reads;
};

TEST(FirmwareLoaderStepTest, EachFailingStepEndsTheLoadAndClosesTheFile) {
  const StepCase cases[] = {
      {"no such file",
       [](FakeFirmwareFileSystem& f) { f.failOpen = true, f.openFailure = OpenFailure::NotFound; },
       kError1, 0},
      {"a FIFO",
       [](FakeFirmwareFileSystem& f) {
         f.failOpen = true, f.openFailure = OpenFailure::NotRegularFile;
       },
       kError1, 0},
      {"open fails", [](FakeFirmwareFileSystem& f) { f.failOpen = true; }, kError1, 0},
      {"size unknown", [](FakeFirmwareFileSystem& f) { f.failSize = true; }, kError2, 0},
      {"4 GiB", [](FakeFirmwareFileSystem& f) { f.sizeHigh = 1; }, kError2, 0},
      {"4 GiB plus little", [](FakeFirmwareFileSystem& f) { f.sizeHigh = 1, f.sizeLow = 10; },
       kError2, 0},
      {"one byte too big", [](FakeFirmwareFileSystem& f) { f.sizeLow = 401409; }, kTooBig, 0},
      {"largest low half", [](FakeFirmwareFileSystem& f) { f.sizeLow = 0xFFFFFFFFu; }, kTooBig, 0},
      {"read fails", [](FakeFirmwareFileSystem& f) { f.failRead = true; }, kError4, 1},
      {"short read", [](FakeFirmwareFileSystem& f) { f.deliver = 5; }, kError4, 1},
      {"nothing read", [](FakeFirmwareFileSystem& f) { f.deliver = 0; }, kError4, 1},
      {"file shrank", [](FakeFirmwareFileSystem& f) { f.sizeLow = 1000; }, kError4, 1},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFirmwareFileSystem files;
    files.content = kWebC + kS8;
    c.arrange(files);
    auto image = PatternImage();
    const LoadOutcome outcome = LoadFirmwareFile("c:\\fw\\x.mot", *image, files);
    EXPECT_EQ(outcome.statusText, c.statusText);
    EXPECT_EQ(outcome.target, FirmwareTarget::None);
    EXPECT_EQ(image->target, FirmwareTarget::None);
    EXPECT_TRUE(HoldsPattern(*image));
    EXPECT_EQ(files.readSizes.size(), c.reads);
    EXPECT_EQ(files.closes, files.opens);
  }
}

TEST(FirmwareLoaderStepTest, ReadsTheWholeFileOnceFromThePathAsGiven) {
  FakeFirmwareFileSystem files;
  files.content = kWebC + kS8;
  auto image = PatternImage();
  const LoadOutcome outcome = LoadFirmwareFile("c:\\fw\\Web C.MOT", *image, files);
  EXPECT_EQ(outcome.statusText, " firmware for WebC loaded");
  EXPECT_EQ(files.openedPaths, std::vector<std::string>{"c:\\fw\\Web C.MOT"});
  EXPECT_EQ(files.readSizes,
            std::vector<std::uint32_t>{static_cast<std::uint32_t>(files.content.size())});
  EXPECT_EQ(files.closes, 1);
}

// Every check of a file and every fingerprint are made from the one read: a file replaced after
// it (a sync client, a script) changes nothing of what was loaded.
TEST(FirmwareLoaderStepTest, BothFormatsAreOpenedAndReadOnce) {
  const std::string hex = ":03001000010203E7\r\n:00000001FF\r\n";
  for (const auto& [path, content] :
       {std::pair<std::string, std::string>{"x.hex", hex}, {"x.mot", kWebC + kS8}}) {
    SCOPED_TRACE(path);
    FakeFirmwareFileSystem files;
    files.content = content;
    files.laterContent = "replaced";
    LoadDetails details;
    auto image = PatternImage();
    const LoadOutcome outcome = LoadFirmwareFile(path, *image, files, &details);
    EXPECT_EQ(outcome.failure, LoadFailure::None);
    EXPECT_EQ(files.opens, 1);
    EXPECT_EQ(files.readSizes,
              std::vector<std::uint32_t>{static_cast<std::uint32_t>(content.size())});
    EXPECT_EQ(std::string(details.fileBytes.begin(), details.fileBytes.end()), content);
  }
}

}  // namespace
}  // namespace loadwing
