#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "firmware/firmware_image.h"

namespace loadwing {

// "Module3", "CanModule", "FanfolderCrossfolder", "WebC", "None".
[[nodiscard]] std::string TargetName(FirmwareTarget target);
// What a person calls the controller: "module 3", "CAN module", "main controller
// (Fanfolder/Crossfolder)", "WebC controller".
[[nodiscard]] std::string TargetDescription(FirmwareTarget target);

// The controller a person or a file names. Letter case, blanks, '-' and '_' do not count, so
// "module 3", "Module3" and "MODULE-3" are one; also taken: "main controller", "Fanfolder/
// Crossfolder", "FanfolderCrossfolder", "main", "WebC", "WebC controller", "CAN module",
// "CanModule", "CAN". nullopt for anything else.
[[nodiscard]] std::optional<FirmwareTarget> TargetFromName(std::string_view name);

}  // namespace loadwing
