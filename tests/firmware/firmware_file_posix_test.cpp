// Loading from paths that are no firmware file: nothing may block on them or read them whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "firmware/firmware_loader.h"

namespace loadwing {
namespace {

namespace fs = std::filesystem;

TEST(FirmwareFilePosixTest, OnlyRegularFilesWithinTheLimitAreRead) {
  const fs::path dir =
      fs::temp_directory_path() / ("loadwing_files_" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  // A FIFO with no writer: a blocking open would wait for one forever.
  ASSERT_EQ(::mkfifo((dir / "fifo.hex").c_str(), 0600), 0);
  {
    std::ofstream big(dir / "big.mot", std::ios::binary);
    big << std::string(kSRecordTextBufferSize + 1, 'S');
  }
  struct Case {
    std::string path;
    LoadFailure failure;
  };
  const Case cases[] = {
      {(dir / "fifo.hex").string(), LoadFailure::NotRegularFile},
      {"/dev/zero", LoadFailure::NotRegularFile},  // never ends
      {"/dev/null", LoadFailure::NotRegularFile},
      {dir.string() + "/", LoadFailure::Folder},
      {(dir / "missing.hex").string(), LoadFailure::NotFound},
      {(dir / "big.mot").string(), LoadFailure::TooBig},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto image = std::make_unique<FirmwareImage>();
    image->target = FirmwareTarget::WebC;
    LoadDetails details;
    const LoadOutcome outcome =
        LoadFirmwareFile(c.path, *image, PlatformFirmwareFileSystem(), &details);
    EXPECT_EQ(outcome.failure, c.failure);
    EXPECT_EQ(image->target, FirmwareTarget::None);
    EXPECT_TRUE(details.fileBytes.empty());
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace loadwing
