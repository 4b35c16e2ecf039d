// The whole S-record load from bytes in memory: the size rules, the zero-cleared buffer, the
// decoder and the target recognition, with and without the checksum test.
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "firmware/firmware_loader.h"
#include "fuzz_image.h"

using namespace loadwing;
using fuzz::GuardedImage;
using fuzz::Require;

namespace {

// Serves the fuzz input as the one file there is.
class MemoryFiles final : public FirmwareFileSystem {
 public:
  class File final : public FirmwareFile {
   public:
    explicit File(MemoryFiles& owner) : owner_(owner) {}
    ~File() override { ++owner_.closes; }
    bool Size(std::uint32_t& low, std::uint32_t& high) override {
      low = static_cast<std::uint32_t>(owner_.byteCount);
      high = 0;
      return true;
    }
    bool Read(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& got) override {
      ++owner_.reads;
      got = static_cast<std::uint32_t>(std::min<std::size_t>(size, owner_.byteCount));
      if (got > 0) std::memcpy(buffer, owner_.bytes, got);
      return true;
    }

   private:
    MemoryFiles& owner_;
  };

  std::unique_ptr<FirmwareFile> Open(const std::string&) override {
    ++opens;
    return std::make_unique<File>(*this);
  }

  const std::uint8_t* bytes = nullptr;
  std::size_t byteCount = 0;
  int opens = 0, closes = 0, reads = 0;
};

bool StartsWith(const FirmwareImage& image, const char* marker) {
  return std::memcmp(image.data.data(), marker, std::strlen(marker)) == 0;
}

const std::set<std::string>& FailureTexts() {
  static const std::set<std::string> texts = {
      " load firmware: can't open file, error 4", " load firmware: can't open file, error 5",
      " load firmware: can't open file, error 6", " load firmware: can't open file, error 7",
      " load firmware: file is too big",          " load firmware: invalid firmware file",
  };
  return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto* guarded = new GuardedImage;
  for (bool checkSums : {true, false}) {
    fuzzIgnoreChecksums = !checkSums;
    guarded->Reset();
    MemoryFiles files;
    files.bytes = data;
    files.byteCount = size;
    const LoadOutcome outcome = LoadFirmwareFile("fuzz.mot", guarded->image, files);

    Require(guarded->GuardsIntact());
    Require(files.opens == 1 && files.closes == 1 && files.reads <= 1);
    Require(guarded->image.target == outcome.target);
    Require(checkSums || outcome.statusText != " load firmware: can't open file, error 6");
    switch (outcome.target) {
      case FirmwareTarget::None:
        Require(FailureTexts().count(outcome.statusText) == 1);
        break;
      case FirmwareTarget::WebC:
        Require(StartsWith(guarded->image, "WebC"));
        Require(outcome.statusText == " firmware for WebC loaded");
        break;
      case FirmwareTarget::CanModule:
        Require(StartsWith(guarded->image, "CAN"));
        Require(outcome.statusText == " firmware CAN module loaded");
        break;
      default: {
        const int module = static_cast<int>(outcome.target) - 10;
        Require(module >= 0 && module <= 7);
        const std::string marker = "Mod" + std::to_string(module);
        Require(StartsWith(guarded->image, marker.c_str()));
        Require(outcome.statusText == " firmware for module " + std::to_string(module) + " loaded");
      }
    }
  }
  return 0;
}
