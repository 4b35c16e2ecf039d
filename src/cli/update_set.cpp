#include "cli/update_set.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "cli/bounded_file.h"
#include "cli/update_set_toml.h"
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
    // A firmware name that is no file (a broken link, a folder) would leave its controller out
    // of the update unseen.
    std::error_code kind;
    if (!entry.is_regular_file(kind)) {
      set.problems.push_back(entry.path().string() + " is not a readable firmware file" +
                             (entry.is_symlink(kind) ? " (a link to nothing?)" : ""));
      continue;
    }
    files.push_back(entry.path());
  }
  if (ec) set.problems.push_back("cannot list " + folder.string() + ": " + ec.message());
  if (files.size() > kMaxSetEntries) {
    set.problems.push_back(folder.string() + " holds " + std::to_string(files.size()) +
                           " firmware files; a machine has only " + std::to_string(kMaxSetEntries) +
                           " controllers");
    return;
  }
  // By name first, so that problems are listed the same way every time.
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) set.items.push_back(UpdateItem{file.string(), "", {}, {}});
  if (set.items.empty() && set.problems.empty()) {
    set.problems.push_back(folder.string() + " holds no firmware file (.mot or .hex)");
  }
}

// The length of the UTF-8 sequence at text[i], 0 when it is not one (overlong forms, surrogates
// and code points beyond U+10FFFF included).
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t n = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return n;
}

// After the '[' or "[[" at text[i] and any blanks: what toml++ 3.3 takes for granted there (it
// asserts, or without assertions assumes, that a name begins). A blank name (']') it refuses
// itself.
bool TableNameStartsWell(std::string_view text, std::size_t i) {
  std::size_t k = i + 1;
  if (k < text.size() && text[k] == '[') ++k;
  while (k < text.size() && (text[k] == ' ' || text[k] == '\t')) ++k;
  if (k == text.size()) return true;  // cut short: the parser says so
  const char c = text[k];
  // Control characters other than line ends, and letters beyond ASCII, are refused each with
  // its own reason when they are reached.
  const auto byte = static_cast<unsigned char>(c);
  if ((byte < 0x20 && c != '\n' && c != '\r') || byte >= 0x7F) return true;
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '"' || c == '\'' || c == ']';
}

// Whether a string may begin at text[i]: at the start of a line or after '=', '[', ',', '{' or
// '.', blanks between.
bool StringMayBegin(std::string_view text, std::size_t i) {
  while (i > 0 && (text[i - 1] == ' ' || text[i - 1] == '\t')) --i;
  if (i == 0) return true;
  const char before = text[i - 1];
  return before == '\n' || before == '\r' || before == '=' || before == '[' || before == ',' ||
         before == '{' || before == '.';
}

}  // namespace

std::optional<std::string> TomlTextProblem(std::string_view text, std::string* ascii) {
  // Where the text is: only quoted strings and comments may hold letters beyond ASCII.
  enum class In { Code, Comment, Basic, Literal, MultiBasic, MultiLiteral };
  In in = In::Code;
  bool lineStart = true;  // nothing but blanks before, in code: where a table name begins
  int line = 1;
  const auto at = [&](std::size_t i, std::string_view what) {
    return text.substr(i, what.size()) == what;
  };
  // A closing triple quote may follow up to two quotes of the string's own.
  const auto closing = [&](std::size_t i, char quote) {
    std::size_t n = 3;
    while (n < 5 && i + n < text.size() && text[i + n] == quote) ++n;
    return n;
  };
  const auto where = [&] { return "line " + std::to_string(line) + ": "; };
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(c));
      return where() + "control character " + code + " (only tab and line ends may appear)";
    }
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) return where() + "not UTF-8 text";
    if (n > 1 && in == In::Code) {
      return where() + "a letter beyond ASCII outside quotes (a key needs them: \"...\")";
    }
    if (n > 1 && (in == In::Literal || in == In::MultiLiteral)) {
      return where() + "a letter beyond ASCII in a '...' string (write it in \"...\")";
    }
    if (ascii != nullptr) {
      // toml++ 3.3 mishandles letters beyond ASCII wherever it meets them outside a string, and
      // an invalid text can lead it there: it only ever sees them as escapes.
      if (n == 1) {
        ascii->push_back(static_cast<char>(c));
      } else if (in == In::Comment) {
        ascii->push_back('?');
      } else {
        char32_t code = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
        for (std::size_t k = 1; k < n; ++k) code = (code << 6) | (text[i + k] & 0x3F);
        char escaped[12];
        std::snprintf(escaped, sizeof escaped, code > 0xFFFF ? "\\U%08X" : "\\u%04X",
                      static_cast<unsigned>(code));
        ascii->append(escaped);
      }
    }
    const bool escape =
        c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\');
    std::size_t step = n;
    switch (in) {
      case In::Code:
        if (c == '[' && lineStart && !TableNameStartsWell(text, i)) {
          return where() + "a table name must begin with a letter, digit, - or _, or a quote";
        }
        if (c != ' ' && c != '\t') lineStart = false;
        if (c == '#') {
          in = In::Comment;
        } else if (at(i, "\"\"\"")) {
          in = In::MultiBasic;
          step = 3;
        } else if (at(i, "'''")) {
          in = In::MultiLiteral;
          step = 3;
        } else if (c == '"') {
          in = In::Basic;
        } else if (c == '\'') {
          in = In::Literal;
        }
        if (in != In::Code && in != In::Comment && !StringMayBegin(text, i)) {
          // The parser would not take it for a string, and would meet what follows as code.
          return where() + "a quote where no string may begin";
        }
        break;
      case In::Comment:
        if (c == '\n') in = In::Code;
        break;
      case In::Basic:
        if (escape) {
          step = 2;
        } else if (c == '"' || c == '\n') {
          in = In::Code;
        }
        break;
      case In::Literal:
        if (c == '\'' || c == '\n') in = In::Code;
        break;
      case In::MultiBasic:
        if (escape) {
          step = 2;
        } else if (at(i, "\"\"\"")) {
          step = closing(i, '"');
          in = In::Code;
        }
        break;
      case In::MultiLiteral:
        if (at(i, "'''")) {
          step = closing(i, '\'');
          in = In::Code;
        }
        break;
    }
    if (c == '\n') {
      ++line;
      lineStart = true;
    }
    i += step;
  }
  return std::nullopt;
}

namespace {

void ReadToml(std::string_view source, const std::string& where, const fs::path& base,
              UpdateSet& set) {
  // toml++ 3.3 reaches undefined behaviour on some bytes no TOML text may hold: they never reach
  // it.
  std::string ascii;
  if (const auto problem = TomlTextProblem(source, &ascii)) {
    set.problems.push_back(where + ":" + problem->substr(5));
    return;
  }
  ReadSetToml(ascii, where, base, set);
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

UpdateSet ReadUpdateSetText(std::string_view text, const std::string& where) {
  UpdateSet set;
  ReadToml(text, where, fs::path(where).parent_path(), set);
  return set;
}

UpdateSet ReadUpdateSet(const std::string& path) {
  UpdateSet set;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    set.folder = true;
    ReadFolder(path, set);
    return set;
  }
  if (IsFirmwareName(path)) {
    set.problems.push_back(path + " is a firmware file, not a set: flash one controller with " +
                           "`" LOADWING_CLI_NAME " flash " + path + "`");
    return set;
  }
  std::string error;
  const std::optional<std::string> text = ReadBoundedFile(path, kMaxSetFileBytes, error);
  if (!text) {
    set.problems.push_back(path + ": " + error);
    return set;
  }
  return ReadUpdateSetText(*text, path);
}

void CheckUpdateSet(UpdateSet& set, bool strict) {
  // A set already refused is not worth loading (and a refused one may name many files).
  if (!set.problems.empty()) return;
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
