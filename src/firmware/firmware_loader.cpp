#include "firmware/firmware_loader.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <streambuf>

namespace loadwing {
namespace {

// The bytes of the one read, as a stream for the Intel HEX decoder.
class MemoryBuffer final : public std::streambuf {
 public:
  MemoryBuffer(const std::uint8_t* data, std::size_t size) {
    char* begin = const_cast<char*>(reinterpret_cast<const char*>(data));
    setg(begin, begin, begin + size);
  }
};

struct Loaded {
  LoadFailure failure = LoadFailure::None;
  FirmwareTarget target = FirmwareTarget::None;
};

Loaded Failure(LoadFailure failure) {
  return Loaded{failure, FirmwareTarget::None};
}

LoadFailure FromOpenFailure(OpenFailure why) {
  switch (why) {
    case OpenFailure::NotFound:
      return LoadFailure::NotFound;
    case OpenFailure::AccessDenied:
      return LoadFailure::AccessDenied;
    case OpenFailure::Folder:
      return LoadFailure::Folder;
    case OpenFailure::NotRegularFile:
      return LoadFailure::NotRegularFile;
    case OpenFailure::None:
    case OpenFailure::Other:
      break;
  }
  return LoadFailure::CannotOpen;
}

// The image names its controller in its first bytes; letter case counts.
Loaded RecogniseSRecordTarget(const FirmwareImage& image) {
  const auto startsWith = [&image](const char* marker) {
    return std::memcmp(image.data.data(), marker, std::strlen(marker)) == 0;
  };
  if (startsWith("WebC")) return {LoadFailure::None, FirmwareTarget::WebC};
  for (int module = 0; module <= 7; ++module) {
    const std::string marker = "Mod" + std::to_string(module);
    if (startsWith(marker.c_str())) {
      return {LoadFailure::None,
              static_cast<FirmwareTarget>(static_cast<int>(FirmwareTarget::Module0) + module)};
    }
  }
  if (startsWith("CAN")) return {LoadFailure::None, FirmwareTarget::CanModule};
  return Failure(LoadFailure::NoTargetMarker);
}

// The one read: open, size against limit, read it all. bytes holds the file afterwards.
LoadFailure ReadOnce(const std::string& path, FirmwareFileSystem& files, std::size_t limit,
                     std::vector<std::uint8_t>& bytes) {
  OpenFailure why = OpenFailure::None;
  std::unique_ptr<FirmwareFile> file = files.Open(path, why);
  if (!file) return FromOpenFailure(why);
  std::uint32_t sizeLow = 0;
  std::uint32_t sizeHigh = 0;
  // A size that cannot be had is as unusable as one of 4 GiB or more.
  if (!file->Size(sizeLow, sizeHigh) || sizeHigh != 0) return LoadFailure::SizeUnknown;
  if (sizeLow > limit) return LoadFailure::TooBig;
  try {
    bytes.resize(sizeLow);
  } catch (const std::bad_alloc&) {
    return LoadFailure::ReadFailed;
  }
  std::uint32_t got = 0;
  const bool read = file->Read(bytes.data(), sizeLow, got);
  if (!read || got < sizeLow) {
    bytes.clear();
    return LoadFailure::ReadFailed;
  }
  return LoadFailure::None;
}

Loaded DecodeSRecordBytes(const std::vector<std::uint8_t>& bytes, FirmwareImage& image,
                          ImageCoverage* coverage) {
  // The text ends at its first zero byte or at the end of the file, as in a zeroed buffer.
  const char* text = reinterpret_cast<const char*>(bytes.data());
  switch (DecodeSRecords(bytes.empty() ? "" : text, bytes.size(), image, coverage)) {
    case DecodeResult::Complete:
      return RecogniseSRecordTarget(image);
    case DecodeResult::TextEnded:
      return Failure(LoadFailure::SRecordsEnded);
    case DecodeResult::ChecksumMismatch:
      return Failure(LoadFailure::SRecordChecksum);
    case DecodeResult::RecordOutOfRange:
      break;
  }
  return Failure(LoadFailure::OutOfRange);
}

Loaded DecodeIntelHexBytes(const std::vector<std::uint8_t>& bytes, FirmwareImage& image,
                           IntelHexStatistics* statistics, ImageCoverage* coverage) {
  MemoryBuffer buffer(bytes.data(), bytes.size());
  std::istream stream(&buffer);
  switch (DecodeIntelHex(stream, image, statistics, coverage)) {
    case DecodeResult::Complete:
      return {LoadFailure::None, FirmwareTarget::FanfolderCrossfolder};
    case DecodeResult::ChecksumMismatch:
      return Failure(LoadFailure::IntelHexChecksum);
    case DecodeResult::RecordOutOfRange:
      return Failure(LoadFailure::OutOfRange);
    case DecodeResult::TextEnded:
      break;
  }
  return Failure(LoadFailure::IntelHexEnded);
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string LoadStatusText(LoadFailure failure, bool intelHex, FirmwareTarget target) {
  switch (failure) {
    case LoadFailure::None:
      break;
    case LoadFailure::NotFound:
    case LoadFailure::AccessDenied:
    case LoadFailure::Folder:
    case LoadFailure::NotRegularFile:
    case LoadFailure::CannotOpen:
      return " load firmware: can't open file, error 1";
    case LoadFailure::SizeUnknown:
      return " load firmware: can't open file, error 2";
    case LoadFailure::TooBig:
      return " load firmware: file is too big";
    case LoadFailure::ReadFailed:
      // An Intel HEX text that cannot be read on ends there, as a stream's would.
      return intelHex ? " load firmware: unexpected end of file"
                      : " load firmware: can't open file, error 4";
    case LoadFailure::SRecordsEnded:
      return " load firmware: can't open file, error 5";
    case LoadFailure::SRecordChecksum:
      return " load firmware: can't open file, error 6";
    case LoadFailure::OutOfRange:
      return " load firmware: can't open file, error 7";
    case LoadFailure::NoTargetMarker:
      return " load firmware: invalid firmware file";
    case LoadFailure::IntelHexEnded:
      return " load firmware: unexpected end of file";
    case LoadFailure::IntelHexChecksum:
      return " load firmware: read error";
  }
  switch (target) {
    case FirmwareTarget::WebC:
      return " firmware for WebC loaded";
    case FirmwareTarget::CanModule:
      return " firmware CAN module loaded";
    case FirmwareTarget::FanfolderCrossfolder:
      return " firmware for Fanfolder/Crossfolder loaded";
    case FirmwareTarget::None:
      return " load firmware: invalid firmware file";
    default:
      return " firmware for module " +
             std::to_string(static_cast<int>(target) - static_cast<int>(FirmwareTarget::Module0)) +
             " loaded";
  }
}

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
                             FirmwareFileSystem& files, LoadDetails* details) {
  image.target = FirmwareTarget::None;
  const bool intelHex = !IsSRecordFile(path);
  LoadDetails local;
  LoadDetails& d = details ? *details : local;
  Loaded loaded;
  loaded.failure =
      ReadOnce(path, files, intelHex ? kIntelHexFileLimit : kSRecordTextBufferSize, d.fileBytes);
  if (loaded.failure == LoadFailure::None) {
    loaded = intelHex ? DecodeIntelHexBytes(d.fileBytes, image, &d.hexStatistics, &d.coverage)
                      : DecodeSRecordBytes(d.fileBytes, image, &d.coverage);
  }
  image.target = loaded.target;
  return LoadOutcome{loaded.target, LoadStatusText(loaded.failure, intelHex, loaded.target),
                     loaded.failure};
}

LoadOutcome LoadFirmwareFile(const std::string& path, FirmwareImage& image) {
  return LoadFirmwareFile(path, image, PlatformFirmwareFileSystem());
}

}  // namespace loadwing
