#include "cli/update_set_toml.h"

#include "core/sha256.h"
#include "firmware/firmware_target_names.h"

namespace loadwing::cli {
namespace {
// Set where toml++ finds one of its own expectations broken; the text is then refused.
thread_local bool tomlExpectationBroken = false;
}  // namespace
}  // namespace loadwing::cli

// Under NDEBUG toml++ 3.3 turns its internal checks into assumptions, and some malformed texts
// break them: undefined behaviour. Included without NDEBUG and with checks that only take note
// (some sit in functions that may not throw), the code goes on as ordinary code, and the text is
// refused. Last, so that no other header sees NDEBUG unset.
#ifdef NDEBUG
#undef NDEBUG
#endif
#define TOML_ASSERT(expr) \
  static_cast<void>((expr) || (::loadwing::cli::tomlExpectationBroken = true))
#include <toml++/toml.h>

namespace loadwing::cli {

void ReadSetToml(const std::string& ascii, const std::string& where,
                 const std::filesystem::path& base, UpdateSet& set) {
  tomlExpectationBroken = false;
  toml::parse_result parsed = toml::parse(ascii, where);
  if (tomlExpectationBroken) {
    set.problems.push_back(where + ": not TOML text that can be read");
    return;
  }
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
  if (list->size() > kMaxSetEntries) {
    set.problems.push_back(where + ": " + std::to_string(list->size()) +
                           " [[firmware]] tables; a machine has only " +
                           std::to_string(kMaxSetEntries) + " controllers");
    return;
  }
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
    const std::filesystem::path relative(*path);
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

}  // namespace loadwing::cli
