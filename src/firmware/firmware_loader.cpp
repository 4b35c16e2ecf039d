#include "firmware/firmware_loader.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace loadwing {
namespace {

LoadOutcome Failure(const char* text) {
  return LoadOutcome{FirmwareTarget::None, text};
}

// The image names its controller in its first bytes; letter case counts.
LoadOutcome RecogniseSRecordTarget(const FirmwareImage& image) {
  const auto startsWith = [&image](const char* marker) {
    return std::memcmp(image.data.data(), marker, std::strlen(marker)) == 0;
  };
  if (startsWith("WebC")) return {FirmwareTarget::WebC, " firmware for WebC loaded"};
  for (int module = 0; module <= 7; ++module) {
    const std::string marker = "Mod" + std::to_string(module);
    if (startsWith(marker.c_str())) {
      return {static_cast<FirmwareTarget>(static_cast<int>(FirmwareTarget::Module0) + module),
              " firmware for module " + std::to_string(module) + " loaded"};
    }
  }
  if (startsWith("CAN")) return {FirmwareTarget::CanModule, " firmware CAN module loaded"};
  return Failure(" load firmware: invalid firmware file");
}

LoadOutcome LoadSRecordFile(const std::string& path, FirmwareImage& image,
                            FirmwareFileSystem& files, ImageCoverage* coverage) {
  std::unique_ptr<FirmwareFile> file = files.Open(path);
  if (!file) return Failure(" load firmware: can't open file, error 1");
  std::uint32_t sizeLow = 0;
  std::uint32_t sizeHigh = 0;
  // A size that cannot be had is as unusable as one of 4 GiB or more.
  if (!file->Size(sizeLow, sizeHigh) || sizeHigh != 0) {
    return Failure(" load firmware: can't open file, error 2");
  }
  if (sizeLow > kSRecordTextBufferSize) return Failure(" load firmware: file is too big");

  // On the heap, as 392 KiB is too much for a stack.
  std::unique_ptr<char[]> text(new (std::nothrow) char[kSRecordTextBufferSize]);
  if (!text) return Failure(" load firmware: can't open file, error 4");
  std::uint32_t got = 0;
  const bool read = file->Read(reinterpret_cast<std::uint8_t*>(text.get()), sizeLow, got);
  file.reset();
  if (!read || got < sizeLow) return Failure(" load firmware: can't open file, error 4");
  // Zeros after the file's bytes: the text ends at the first of them.
  std::memset(text.get() + sizeLow, 0, kSRecordTextBufferSize - sizeLow);

  switch (DecodeSRecords(text.get(), kSRecordTextBufferSize, image, coverage)) {
    case DecodeResult::Complete:
      return RecogniseSRecordTarget(image);
    case DecodeResult::TextEnded:
      return Failure(" load firmware: can't open file, error 5");
    case DecodeResult::ChecksumMismatch:
      return Failure(" load firmware: can't open file, error 6");
    case DecodeResult::RecordOutOfRange:
      break;
  }
  return Failure(" load firmware: can't open file, error 7");
}

LoadOutcome LoadIntelHexFile(const std::string& path, FirmwareImage& image,
                             FirmwareFileSystem& files, IntelHexStatistics* statistics,
                             ImageCoverage* coverage) {
  const std::unique_ptr<std::istream> stream = files.OpenStream(path);
  if (!stream) return Failure(" load firmware: can't open file, error 1");
  switch (DecodeIntelHex(*stream, image, statistics, coverage)) {
    case DecodeResult::Complete:
      return {FirmwareTarget::FanfolderCrossfolder, " firmware for Fanfolder/Crossfolder loaded"};
    case DecodeResult::ChecksumMismatch:
      return Failure(" load firmware: read error");
    case DecodeResult::RecordOutOfRange:
      // Data that cannot be placed in the image: the same text as for such S-records.
      return Failure(" load firmware: can't open file, error 7");
    case DecodeResult::TextEnded:
      break;
  }
  return Failure(" load firmware: unexpected end of file");
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string FirmwareFileExtension(const std::string& path) {
  const std::size_t nameStart = path.find_last_of("/\\");
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (nameStart != std::string::npos && dot < nameStart)) return {};
  return path.substr(dot + 1);
}

bool IsSRecordFile(const std::string& path) {
  const std::string extension = FirmwareFileExtension(path);
  if (extension.size() != 3) return false;
  return Lower(extension[0]) == 'm' && Lower(extension[1]) == 'o' && Lower(extension[2]) == 't';
}

LoadOutcome LoadFirmwareFile(const std::string& path, FirmwareImage& image,
                             FirmwareFileSystem& files, IntelHexStatistics* statistics,
                             ImageCoverage* coverage) {
  image.target = FirmwareTarget::None;
  LoadOutcome outcome = IsSRecordFile(path)
                            ? LoadSRecordFile(path, image, files, coverage)
                            : LoadIntelHexFile(path, image, files, statistics, coverage);
  image.target = outcome.target;
  return outcome;
}

LoadOutcome LoadFirmwareFile(const std::string& path, FirmwareImage& image) {
  return LoadFirmwareFile(path, image, PlatformFirmwareFileSystem());
}

}  // namespace loadwing
