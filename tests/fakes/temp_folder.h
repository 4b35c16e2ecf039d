#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace loadwing::testing {

// A fresh folder for the running test, removed with everything in it when the test ends. Its
// name is the test's and a random number, so that parallel runs and other users never meet.
class TempFolder {
 public:
  TempFolder() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("loadwing_") + info->test_suite_name() + "_" + info->name() +
                       "_" + std::to_string(std::random_device{}());
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Writes a file and returns its full path.
  std::string Write(const std::string& fileName, const std::string& content) const {
    const std::filesystem::path file = path_ / fileName;
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file.string();
  }
  std::string PathOf(const std::string& fileName) const { return (path_ / fileName).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace loadwing::testing
