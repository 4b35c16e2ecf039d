// The whole S-record load from bytes in memory: the size rules, the zero-cleared buffer, the
// decoder and the target recognition, with and without the checksum test.
#include <cstring>
#include <set>
#include <string>

#include "fakes/fake_firmware_files.h"
#include "firmware/firmware_loader.h"
#include "fuzz_image.h"

using namespace loadwing;
using fuzz::GuardedImage;
using fuzz::Require;
using testing::FakeFirmwareFileSystem;

namespace {

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
    FakeFirmwareFileSystem files;  // the fuzz input is the one file there is
    files.content.assign(reinterpret_cast<const char*>(data), size);
    const LoadOutcome outcome = LoadFirmwareFile("fuzz.mot", guarded->image, files);

    Require(guarded->GuardsIntact());
    Require(files.opens == 1 && files.closes == 1 && files.readSizes.size() <= 1);
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
