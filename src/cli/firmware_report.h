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
#include "flash/transfer_plan.h"

namespace loadwing::cli {

// The info command's output, as text lines and as one JSON object; problems, when not empty,
// are why the file is refused (--strict), and go into the object.
[[nodiscard]] std::string FormatInfoText(const TransferPlan& report);
[[nodiscard]] std::string FormatInfoJson(const TransferPlan& report,
                                         const std::vector<std::string>& problems);

// Why a loaded report must not be flashed: a SHA-256 other than expectedSha256 (when not empty),
// and with strict any bytes a transfer would leave out. Empty when there is nothing against it.
[[nodiscard]] std::vector<std::string> FirmwareProblems(const TransferPlan& report,
                                                        std::string_view expectedSha256,
                                                        bool strict);

// A warning when the file holds data that a transfer does not send.
[[nodiscard]] std::optional<std::string> BytesBeyondWarning(const TransferPlan& report);

// A warning when a loaded Intel HEX file holds address records that were skipped, or records of
// no known type, whose bytes are taken as data and will be flashed.
[[nodiscard]] std::optional<std::string> AddressRecordWarning(const TransferPlan& report);

}  // namespace loadwing::cli
