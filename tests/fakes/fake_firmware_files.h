#pragma once
#include <algorithm>
#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/failing_stream.h"
#include "firmware/firmware_file.h"

namespace loadwing::testing {

// One firmware file held in memory, whatever path is asked for: opened as a file (S-records) or
// as a stream (Intel HEX). Each step can be made to fail or to report what a damaged medium
// reports; every step (open, size, read) is counted, and every file or stream handed out counts
// as closed once destroyed.
class FakeFirmwareFileSystem final : public FirmwareFileSystem {
 public:
  class File final : public FirmwareFile {
   public:
    explicit File(FakeFirmwareFileSystem& owner) : owner_(owner) {}
    ~File() override { ++owner_.closes; }
    bool Size(std::uint32_t& low, std::uint32_t& high) override {
      ++owner_.steps;
      low = owner_.sizeLow.value_or(static_cast<std::uint32_t>(owner_.content.size()));
      high = owner_.sizeHigh;
      return !owner_.failSize;
    }
    bool Read(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) override {
      ++owner_.steps;
      owner_.readSizes.push_back(size);
      got = std::min<std::uint32_t>(
          {size, owner_.deliver.value_or(size), static_cast<std::uint32_t>(owner_.content.size())});
      std::copy_n(owner_.content.begin(), got, buffer);
      return !owner_.failRead;
    }

   private:
    FakeFirmwareFileSystem& owner_;
  };

  class Stream final : public FailingStream {
   public:
    explicit Stream(FakeFirmwareFileSystem& owner)
        : FailingStream(owner.content, owner.streamFailAt, owner.streamFailure), owner_(owner) {}
    ~Stream() override { ++owner_.closes; }

   private:
    FakeFirmwareFileSystem& owner_;
  };

  std::unique_ptr<FirmwareFile> Open(const std::string& path) override {
    ++steps;
    openedPaths.push_back(path);
    if (failOpen) return nullptr;
    ++opens;
    return std::make_unique<File>(*this);
  }
  std::unique_ptr<std::istream> OpenStream(const std::string& path) override {
    if (realStreams) return FirmwareFileSystem::OpenStream(path);
    ++steps;
    streamPaths.push_back(path);
    if (failOpen) return nullptr;
    ++opens;
    return std::make_unique<Stream>(*this);
  }

  std::string content;
  bool failOpen = false, failSize = false, failRead = false;
  std::optional<std::uint32_t> sizeLow;  // a size other than the content's
  std::uint32_t sizeHigh = 0;
  std::optional<std::uint32_t> deliver;  // fewer bytes than asked
  // A stream fails once this many characters have been read, the way given.
  std::size_t streamFailAt = std::string::npos;
  FailingStreamBuffer::Way streamFailure = FailingStreamBuffer::Way::Throw;
  bool realStreams = false;  // Intel HEX from the real file system instead

  std::vector<std::string> openedPaths;  // by Open, the S-record way
  std::vector<std::string> streamPaths;  // by OpenStream, the Intel HEX way
  std::vector<std::uint32_t> readSizes;  // the size asked for by each file read
  int steps = 0, opens = 0, closes = 0;
};

}  // namespace loadwing::testing
