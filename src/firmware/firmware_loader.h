#pragma once
#include <string>

#include "firmware/firmware_image.h"

namespace loadwing {

// What loading a firmware file came to: the target (None on every failure) and the status
// text, with its leading blank, exactly as the status line shows it.
struct LoadOutcome {
  FirmwareTarget target = FirmwareTarget::None;
  std::string statusText;
};

// Reads the file at path into image by the loading rules: ".mot" in any letter case is read as
// S-records, anything else as Intel HEX. Sets image.target to the outcome's target. A failure
// before decoding leaves image.data untouched. The file is closed on every path.
LoadOutcome LoadFirmwareFile(const std::string& path, FirmwareImage& image);

}  // namespace loadwing
