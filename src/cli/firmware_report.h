#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "firmware/firmware_image.h"
#include "firmware/firmware_loader.h"
#include "firmware/record_decoders.h"
#include "flash/flash_transfer.h"

namespace loadwing::cli {

// A firmware file as the loader takes it, and what a transfer of it would send.
struct FirmwareReport {
  std::string path;
  LoadOutcome outcome;
  bool intelHex = false;
  IntelHexStatistics hexStatistics;
  const FlashTargetInfo* info = nullptr;  // null when the file did not load
  std::uint32_t imageSize = 0;            // bytes a transfer sends
  std::uint32_t blocks = 0;
  std::unique_ptr<FirmwareImage> image;

  bool loaded() const { return info != nullptr; }
};

// Loads path into a fresh image, as the dialog would.
FirmwareReport LoadFirmwareReport(const std::string& path);

// The check byte a transfer sends after the last block of a loaded report's image; worked out
// when asked for, since decoding a file does not need it.
std::uint8_t FirmwareCheckByte(const FirmwareReport& report);

// "Module3", "CanModule", "FanfolderCrossfolder", "WebC", "None".
std::string TargetName(FirmwareTarget target);
// What a person calls the controller: "module 3", "CAN module", "main controller", "WebC".
std::string TargetDescription(FirmwareTarget target);

// The info command's output, as text lines and as one JSON object.
std::string FormatInfoText(const FirmwareReport& report);
std::string FormatInfoJson(const FirmwareReport& report);

// A warning when a loaded Intel HEX file holds address records (types 02 to 05 with a zero base,
// or start addresses), which were skipped, or records of no known type, whose bytes are taken
// as data and will be flashed.
std::optional<std::string> AddressRecordWarning(const FirmwareReport& report);

}  // namespace loadwing::cli
