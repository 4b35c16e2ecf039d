#include "firmware/firmware_target_names.h"

#include <cctype>

namespace loadwing {

namespace {

int ModuleNumber(FirmwareTarget target) {
  return static_cast<int>(target) - static_cast<int>(FirmwareTarget::Module0);
}

bool IsModule(FirmwareTarget target) {
  return target >= FirmwareTarget::Module0 && target <= FirmwareTarget::Module7;
}

// Lower case, without blanks, '-' and '_'.
std::string Folded(std::string_view name) {
  std::string folded;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isspace(c) || c == '-' || c == '_') continue;
    folded += static_cast<char>(std::tolower(c));
  }
  return folded;
}

}  // namespace

std::string TargetName(FirmwareTarget target) {
  if (IsModule(target)) return "Module" + std::to_string(ModuleNumber(target));
  switch (target) {
    case FirmwareTarget::CanModule:
      return "CanModule";
    case FirmwareTarget::FanfolderCrossfolder:
      return "FanfolderCrossfolder";
    case FirmwareTarget::WebC:
      return "WebC";
    default:
      return "None";
  }
}

std::string TargetDescription(FirmwareTarget target) {
  if (IsModule(target)) return "module " + std::to_string(ModuleNumber(target));
  switch (target) {
    case FirmwareTarget::CanModule:
      return "CAN module";
    case FirmwareTarget::FanfolderCrossfolder:
      return "main controller (Fanfolder/Crossfolder)";
    case FirmwareTarget::WebC:
      return "WebC controller";
    default:
      return "none";
  }
}

std::optional<FirmwareTarget> TargetFromName(std::string_view name) {
  const std::string folded = Folded(name);
  if (folded.size() == 7 && folded.compare(0, 6, "module") == 0 && folded[6] >= '0' &&
      folded[6] <= '7') {
    return static_cast<FirmwareTarget>(static_cast<int>(FirmwareTarget::Module0) + folded[6] - '0');
  }
  if (folded == "maincontroller" || folded == "main" || folded == "fanfolder/crossfolder" ||
      folded == "fanfoldercrossfolder" || folded == "maincontroller(fanfolder/crossfolder)") {
    return FirmwareTarget::FanfolderCrossfolder;
  }
  if (folded == "webc" || folded == "webccontroller") return FirmwareTarget::WebC;
  if (folded == "canmodule" || folded == "can") return FirmwareTarget::CanModule;
  return std::nullopt;
}

}  // namespace loadwing
