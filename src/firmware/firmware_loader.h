#pragma once
#include <cstddef>
#include <string>

#include "firmware/firmware_file.h"
#include "firmware/firmware_image.h"
#include "firmware/record_decoders.h"

namespace loadwing {

// Errors in the firmware layer: a decoder returns a DecodeResult; loading a file returns a
// LoadOutcome whose target is None on every failure, with the status text the dialog shows.
// Nothing throws for a bad file, and a failed load never leaves a half-decoded image marked
// with a target.

// What loading a firmware file came to: the target (None on every failure) and the status
// text, with its leading blank, exactly as the status line shows it.
struct LoadOutcome {
  FirmwareTarget target = FirmwareTarget::None;
  std::string statusText;
};

// The largest S-record file taken, and the size of the buffer it is read into.
inline constexpr std::size_t kSRecordTextBufferSize = 401408;

// The text after the last "." of the file name in path (either slash separates folders), empty
// when the name has no ".".
[[nodiscard]] std::string FirmwareFileExtension(const std::string& path);

// True when path is read as S-records: its extension is "mot" in any letter case.
[[nodiscard]] bool IsSRecordFile(const std::string& path);

// Reads the file at path into image by the loading rules: ".mot" in any letter case is read as
// S-records, anything else as Intel HEX. Sets image.target to the outcome's target. A failure
// before decoding leaves image.data untouched. The file is closed on every path.
[[nodiscard]] LoadOutcome LoadFirmwareFile(const std::string& path, FirmwareImage& image);

// The same, with the file opened through files; statistics, when given, receives what the
// Intel HEX decoder came across (it is left alone for S-record files); coverage, when given, the
// image offsets either decoder wrote.
[[nodiscard]] LoadOutcome LoadFirmwareFile(const std::string& path, FirmwareImage& image,
                                           FirmwareFileSystem& files,
                                           IntelHexStatistics* statistics = nullptr,
                                           ImageCoverage* coverage = nullptr);

}  // namespace loadwing
