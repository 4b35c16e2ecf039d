#include "cli/update_set.h"

#include <toml++/toml.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "core/sha256.h"
#include "firmware/firmware_loader.h"
#include "firmware/firmware_target_names.h"

namespace loadwing::cli {

namespace fs = std::filesystem;

namespace {

bool IsFirmwareName(const fs::path& path) {
  std::string extension = FirmwareFileExtension(path.filename().string());
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == "mot" || extension == "hex";
}

void ReadFolder(const fs::path& folder, UpdateSet& set) {
  std::error_code ec;
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.' || !IsFirmwareName(entry.path())) continue;
    if (!entry.is_regular_file(ec)) continue;
    files.push_back(entry.path());
  }
  if (ec) set.problems.push_back("cannot list " + folder.string() + ": " + ec.message());
  // By name first, so that problems are listed the same way every time.
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) set.items.push_back(UpdateItem{file.string(), "", {}, {}});
  if (set.items.empty() && set.problems.empty()) {
    set.problems.push_back(folder.string() + " holds no firmware file (.mot or .hex)");
  }
}

void ReadToml(const fs::path& file, UpdateSet& set) {
  const std::string where = file.string();
  toml::parse_result parsed = toml::parse_file(where);
  if (!parsed) {
    const toml::parse_error& error = parsed.error();
    set.problems.push_back(where + ":" + std::to_string(error.source().begin.line) + ": " +
                           std::string(error.description()));
    return;
  }
  const toml::table& table = parsed.table();
  for (const auto& [key, value] : table) {
    if (key.str() == "machine") {
      const auto machine = value.value<std::string>();
      if (!machine || machine->empty()) {
        set.problems.push_back(where +
                               ": machine must be a text (the serial number on the "
                               "machine's plate)");
      } else {
        set.machine = *machine;
      }
    } else if (key.str() != "firmware") {
      set.problems.push_back(where + ": unknown key '" + std::string(key.str()) +
                             "' (only machine = \"...\" and [[firmware]] tables)");
    }
  }
  const toml::array* list = table["firmware"].as_array();
  if (list == nullptr || list->empty()) {
    set.problems.push_back(where + ": no [[firmware]] table");
    return;
  }
  const fs::path base = file.parent_path();
  int index = 0;
  for (const toml::node& node : *list) {
    ++index;
    const std::string name = where + ": firmware " + std::to_string(index);
    const toml::table* entry = node.as_table();
    if (entry == nullptr) {
      set.problems.push_back(name + " is not a table");
      continue;
    }
    UpdateItem item;
    bool good = true;
    for (const auto& [key, value] : *entry) {
      if (key.str() != "file" && key.str() != "sha256" && key.str() != "controller") {
        set.problems.push_back(name + ": unknown key '" + std::string(key.str()) + "'");
        good = false;
      }
    }
    const auto path = (*entry)["file"].value<std::string>();
    if (!path || path->empty()) {
      set.problems.push_back(name + ": no file = \"...\"");
      continue;
    }
    const fs::path relative(*path);
    item.file = relative.is_absolute() ? relative.string() : (base / relative).string();
    if (const toml::node* sha = entry->get("sha256")) {
      const auto text = sha->value<std::string>();
      if (!text || !IsSha256Text(*text)) {
        set.problems.push_back(name + ": sha256 must be 64 hexadecimal digits");
        good = false;
      } else {
        item.sha256 = *text;
      }
    }
    if (const toml::node* controller = entry->get("controller")) {
      const auto text = controller->value<std::string>();
      item.controller = text ? TargetFromName(*text) : std::nullopt;
      if (!item.controller) {
        set.problems.push_back(name + ": unknown controller '" + text.value_or("") +
                               "' (module 0 ... module 7, CAN module, WebC, main controller)");
        good = false;
      }
    }
    if (good) set.items.push_back(std::move(item));
  }
}

}  // namespace

int FolderOrderRank(FirmwareTarget target) {
  if (target >= FirmwareTarget::Module0 && target <= FirmwareTarget::Module7) {
    return static_cast<int>(target) - static_cast<int>(FirmwareTarget::Module0);
  }
  switch (target) {
    case FirmwareTarget::CanModule:
      return 8;
    case FirmwareTarget::WebC:
      return 9;
    case FirmwareTarget::FanfolderCrossfolder:
      return 10;
    default:
      return 11;
  }
}

UpdateSet ReadUpdateSet(const std::string& path) {
  UpdateSet set;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    set.folder = true;
    ReadFolder(path, set);
  } else if (fs::exists(path, ec)) {
    ReadToml(path, set);
  } else {
    set.problems.push_back(path + ": no such file or folder");
  }
  return set;
}

void CheckUpdateSet(UpdateSet& set, bool strict) {
  std::map<FirmwareTarget, std::string> seen;
  for (UpdateItem& item : set.items) {
    item.report = std::make_unique<TransferPlan>(MakeTransferPlan(item.file));
    const TransferPlan& report = *item.report;
    if (!report.loaded()) {
      set.problems.push_back(item.file + ": did not load:" + report.outcome.statusText);
      continue;
    }
    for (const std::string& problem : FirmwareProblems(report, item.sha256, strict)) {
      set.problems.push_back(problem);
    }
    const FirmwareTarget target = report.outcome.target;
    if (item.controller && *item.controller != target) {
      set.problems.push_back(item.file + " is firmware for the " + TargetDescription(target) +
                             ", not for the " + TargetDescription(*item.controller));
    }
    const auto [previous, fresh] = seen.emplace(target, item.file);
    if (!fresh) {
      set.problems.push_back(item.file + " and " + previous->second + " are both for the " +
                             TargetDescription(target));
    }
  }
  if (set.folder) {
    std::stable_sort(set.items.begin(), set.items.end(),
                     [](const UpdateItem& a, const UpdateItem& b) {
                       const auto rank = [](const UpdateItem& item) {
                         return item.report ? FolderOrderRank(item.report->outcome.target) : 11;
                       };
                       return rank(a) < rank(b);
                     });
  }
}

}  // namespace loadwing::cli
