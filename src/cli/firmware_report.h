#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmware_image.h"
#include "firmware/firmware_loader.h"
#include "firmware/firmware_target_names.h"
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
  // SHA-256 of the whole file and of the bytes a transfer sends; empty when unknown.
  std::string fileSha256;
  std::string sentSha256;
  // Data bytes of the file a transfer leaves out: S2 data past the target's size, Intel HEX
  // bytes above 0xFFFF.
  std::uint32_t bytesBeyond = 0;

  bool loaded() const { return info != nullptr; }
};

// Loads path into a fresh image, as the dialog would.
[[nodiscard]] FirmwareReport LoadFirmwareReport(const std::string& path);

// The check byte a transfer sends after the last block of a loaded report's image; worked out
// when asked for, since decoding a file does not need it.
std::uint8_t FirmwareCheckByte(const FirmwareReport& report);

// The info command's output, as text lines and as one JSON object.
[[nodiscard]] std::string FormatInfoText(const FirmwareReport& report);
[[nodiscard]] std::string FormatInfoJson(const FirmwareReport& report);

// Why a loaded report must not be flashed: a SHA-256 other than expectedSha256 (when not empty),
// and with strict any bytes a transfer would leave out. Empty when there is nothing against it.
[[nodiscard]] std::vector<std::string> FirmwareProblems(const FirmwareReport& report,
                                                        std::string_view expectedSha256,
                                                        bool strict);

// A warning when the file holds data that a transfer does not send.
[[nodiscard]] std::optional<std::string> BytesBeyondWarning(const FirmwareReport& report);

// A warning when a loaded Intel HEX file holds address records (types 02 to 05 with a zero base,
// or start addresses), which were skipped, or records of no known type, whose bytes are taken
// as data and will be flashed.
[[nodiscard]] std::optional<std::string> AddressRecordWarning(const FirmwareReport& report);

}  // namespace loadwing::cli
