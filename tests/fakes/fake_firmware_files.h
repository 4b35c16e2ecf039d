#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firmware/firmware_file.h"

namespace loadwing::testing {

// Firmware files held in memory, whatever path is asked for. Each step can be made to fail or to
// report what a damaged medium reports; every step (open, size, read) is counted, and every file
// handed out counts as closed once destroyed. A later open may serve other contents, as a file
// replaced between two reads would.
class FakeFirmwareFileSystem final : public FirmwareFileSystem {
 public:
  class File final : public FirmwareFile {
   public:
    File(FakeFirmwareFileSystem& owner, std::string content)
        : owner_(owner), content_(std::move(content)) {}
    ~File() override { ++owner_.closes; }
    bool Size(std::uint32_t& low, std::uint32_t& high) override {
      ++owner_.steps;
      low = owner_.sizeLow.value_or(static_cast<std::uint32_t>(content_.size()));
      high = owner_.sizeHigh;
      return !owner_.failSize;
    }
    bool Read(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) override {
      ++owner_.steps;
      owner_.readSizes.push_back(size);
      got = std::min<std::uint32_t>(
          {size, owner_.deliver.value_or(size), static_cast<std::uint32_t>(content_.size())});
      std::copy_n(content_.begin(), got, buffer);
      return !owner_.failRead;
    }

   private:
    FakeFirmwareFileSystem& owner_;
    std::string content_;
  };

  std::unique_ptr<FirmwareFile> Open(const std::string& path, OpenFailure& why) override {
    ++steps;
    openedPaths.push_back(path);
    if (failOpen) {
      why = openFailure;
      return nullptr;
    }
    why = OpenFailure::None;
    ++opens;
    return std::make_unique<File>(*this, opens > 1 && laterContent ? *laterContent : content);
  }

  std::string content;
  std::optional<std::string> laterContent;  // served from the second open on
  bool failOpen = false, failSize = false, failRead = false;
  OpenFailure openFailure = OpenFailure::Other;  // why a failed open failed
  std::optional<std::uint32_t> sizeLow;          // a size other than the content's
  std::uint32_t sizeHigh = 0;
  std::optional<std::uint32_t> deliver;  // fewer bytes than asked

  std::vector<std::string> openedPaths;
  std::vector<std::uint32_t> readSizes;  // the size asked for by each file read
  int steps = 0, opens = 0, closes = 0;
};

}  // namespace loadwing::testing
