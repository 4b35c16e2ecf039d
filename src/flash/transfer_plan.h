#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "firmware/firmware_file.h"
#include "firmware/firmware_image.h"
#include "firmware/firmware_loader.h"
#include "firmware/record_decoders.h"
#include "flash/flash_transfer.h"

namespace loadwing {

// What one transfer of one firmware file will be, made from the one read of that file: every
// fingerprint, check and warning about the file comes from here, never from another read.
struct TransferPlan {
  TransferPlan() = default;
  TransferPlan(TransferPlan&&) = default;
  TransferPlan& operator=(TransferPlan&&) = default;

  std::string path;
  bool intelHex = false;
  LoadOutcome outcome;
  IntelHexStatistics hexStatistics;       // what an Intel HEX file held besides data
  const FlashTargetInfo* info = nullptr;  // null when the file did not load
  std::uint32_t imageSize = 0;            // bytes a transfer sends
  std::uint32_t blocks = 0;
  // The loaded image: the plan's own, or the one it was asked to load into.
  FirmwareImage* image = nullptr;
  // SHA-256 of the whole file as read and of the bytes a transfer sends; empty when unknown.
  std::string fileSha256;
  std::string sentSha256;
  // Data bytes of the file a transfer leaves out: S2 data past the target's size, Intel HEX
  // bytes above 0xFFFF.
  std::uint32_t bytesBeyond = 0;
  // The file as the one read brought it (empty when it could not be read), for those who
  // explain why it did not load.
  std::vector<std::uint8_t> fileBytes;

  bool loaded() const { return info != nullptr; }
  // Intel HEX address records (types 02-05 with a zero base, or start addresses) that were
  // skipped, and records of no known type whose bytes were taken as data and will be flashed;
  // 0 for a file that did not load, whose own status says enough.
  std::uint32_t SkippedAddressRecords() const;
  std::uint32_t UnknownRecordsTakenAsData() const;

 private:
  std::unique_ptr<FirmwareImage> ownImage_;
  friend TransferPlan MakeTransferPlan(const std::string& path, FirmwareFileSystem& files);
};

// Loads path, through files, into a fresh image of the plan's own.
TransferPlan MakeTransferPlan(const std::string& path,
                              FirmwareFileSystem& files = PlatformFirmwareFileSystem());

// Loads path into image (the dialog's one image), which the plan then refers to.
TransferPlan MakeTransferPlan(const std::string& path, FirmwareFileSystem& files,
                              FirmwareImage& image);

// The check byte a transfer sends after the last block of a loaded plan's image.
std::uint8_t PlanCheckByte(const TransferPlan& plan);

}  // namespace loadwing
