#include "flash/transfer_plan.h"

#include "core/sha256.h"
#include "flash/check_byte.h"

namespace loadwing {

namespace {

std::string Sha256Text(const std::uint8_t* data, std::size_t n) {
  const auto digest = Sha256Of(data, n);
  return digest ? Sha256Hex(*digest) : std::string();
}

// True when the load got as far as decoding, so that the whole file was read.
bool WasRead(LoadFailure failure) {
  switch (failure) {
    case LoadFailure::NotFound:
    case LoadFailure::AccessDenied:
    case LoadFailure::Folder:
    case LoadFailure::NotRegularFile:
    case LoadFailure::CannotOpen:
    case LoadFailure::SizeUnknown:
    case LoadFailure::TooBig:
    case LoadFailure::ReadFailed:
      return false;
    default:
      return true;
  }
}

}  // namespace

std::uint32_t TransferPlan::SkippedAddressRecords() const {
  return intelHex && loaded() ? hexStatistics.addressRecords : 0;
}

std::uint32_t TransferPlan::UnknownRecordsTakenAsData() const {
  return intelHex && loaded() ? hexStatistics.otherRecords : 0;
}

TransferPlan MakeTransferPlan(const std::string& path, FirmwareFileSystem& files,
                              FirmwareImage& image) {
  TransferPlan plan;
  plan.path = path;
  plan.intelHex = !IsSRecordFile(path);
  plan.image = &image;
  LoadDetails details;
  plan.outcome = LoadFirmwareFile(path, image, files, &details);
  plan.hexStatistics = details.hexStatistics;
  plan.fileBytes = std::move(details.fileBytes);
  // An empty file was read too: its fingerprint is that of no bytes.
  if (WasRead(plan.outcome.failure)) {
    plan.fileSha256 = Sha256Text(plan.fileBytes.data(), plan.fileBytes.size());
  }
  plan.info = FindFlashTargetInfo(plan.outcome.target);
  if (plan.info != nullptr) {
    plan.imageSize = plan.info->imageSize;
    plan.blocks = plan.imageSize / 256;
    plan.bytesBeyond = details.coverage.CountFrom(plan.imageSize);
    plan.sentSha256 = Sha256Text(image.data.data(), plan.imageSize);
  }
  return plan;
}

TransferPlan MakeTransferPlan(const std::string& path, FirmwareFileSystem& files) {
  auto image = std::make_unique<FirmwareImage>();
  TransferPlan plan = MakeTransferPlan(path, files, *image);
  plan.ownImage_ = std::move(image);
  return plan;
}

std::uint8_t PlanCheckByte(const TransferPlan& plan) {
  ImageCheckByte check;
  if (plan.image != nullptr) check.Update(plan.image->data.data(), plan.imageSize);
  return check.value();
}

}  // namespace loadwing
