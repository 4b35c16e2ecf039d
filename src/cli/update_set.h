#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/firmware_report.h"
#include "firmware/firmware_image.h"

namespace loadwing::cli {

// One firmware file of an update set, with what the set expects of it.
struct UpdateItem {
  std::string file;
  std::string sha256;                        // empty: any
  std::optional<FirmwareTarget> controller;  // none: any
  std::unique_ptr<TransferPlan> report;      // filled by CheckUpdateSet
};

struct UpdateSet {
  bool folder = false;                // read from a folder rather than a TOML file
  std::string machine;                // a TOML file's machine = "...": the plate's serial number
  std::vector<UpdateItem> items;      // in the order they are flashed
  std::vector<std::string> problems;  // each one refuses the whole set
};

// The order in which a folder's files are flashed: modules 0 to 7, the CAN module, the WebC
// controller, the main controller last.
int FolderOrderRank(FirmwareTarget target);

// What a set may hold: a machine's controllers (main controller, WebC, modules 0 to 7, CAN
// module), and a set file's size.
inline constexpr std::size_t kMaxSetEntries = 11;
inline constexpr std::size_t kMaxSetFileBytes = 64 * 1024;

// Reads a set: a folder (its .mot and .hex files, in FolderOrderRank order once loaded) or a TOML
// file listing [[firmware]] tables with file, and optionally sha256 and controller, and
// optionally naming the machine (machine = "serial number").
// A set file must be a regular file of at most kMaxSetFileBytes; a firmware file is refused
// with the command that flashes it.
UpdateSet ReadUpdateSet(const std::string& path);

// A set file's text, named where in its problems; relative files lie beside where.
UpdateSet ReadUpdateSetText(std::string_view text, const std::string& where);

// Where text holds invalid UTF-8 or a control character other than tab, LF and CR: the line
// ("line 3: ..."); nullopt when it is clean.
// With ascii, also the text as toml++ may see it: letters beyond ASCII in "..." strings as
// escapes, in comments as '?'. A letter beyond ASCII in a '...' string is a problem.
std::optional<std::string> TomlTextProblem(std::string_view text, std::string* ascii = nullptr);

// Unless the set is refused already, loads every file of the set and lists every problem: a file
// that does not load, a SHA-256 or controller other than expected, two files for one controller,
// with strict bytes a transfer would leave out. Sorts a folder's files into their order.
void CheckUpdateSet(UpdateSet& set, bool strict);

}  // namespace loadwing::cli
