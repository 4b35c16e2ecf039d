#include "cli/command_table.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <iomanip>
#include <sstream>

#include "cli/exit_codes.h"
#include "cli/terminal_text.h"

namespace loadwing::cli {

namespace {

constexpr const char* kVersionText = "loadwing " LOADWING_VERSION;

void AddVersionFlag(CLI::App& app) {
  app.add_flag_callback(
      "--version", [] { throw CLI::CallForVersion(kVersionText, 0); },
      "Print the version and exit");
}

std::string Trimmed(std::string text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  const std::size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// "from 1 to 4000000" as a person writes the numbers (no "1.000000", no "1e+09").
template <typename Number>
std::string RangeText(Number min, Number max) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(0) << "from " << min << " to " << max;
  return text.str();
}

}  // namespace

Option& Option::Required() {
  option_->required();
  return *this;
}

Option& Option::Check(const OptionCheck& check) {
  option_->check(CLI::Validator(
      [refusal = check.refusal](std::string& text) { return refusal(text); }, check.placeholder));
  return *this;
}

Option& Option::Excludes(Option other) {
  option_->excludes(other.option_);
  return *this;
}

Option& Option::Group(const std::string& heading) {
  option_->group(heading);
  return *this;
}

bool Option::Given() const {
  return option_->count() > 0;
}

std::string Option::Name() const {
  return option_->get_name();
}

Option Options::Flag(const std::string& names, bool& value, const std::string& help) {
  return Option(app_->add_flag(names, value, help));
}

template <OptionValue Value>
Option Options::Add(const std::string& names, Value& value, const std::string& help) {
  return Option(app_->add_option(names, value, help));
}

// The only kinds there are (OptionValue); std::size_t is one of the unsigned ones everywhere.
template Option Options::Add(const std::string&, std::string&, const std::string&);
template Option Options::Add(const std::string&, std::optional<std::string>&, const std::string&);
template Option Options::Add(const std::string&, double&, const std::string&);
template Option Options::Add(const std::string&, std::uint32_t&, const std::string&);
template Option Options::Add(const std::string&, std::optional<std::uint32_t>&, const std::string&);
template Option Options::Add(const std::string&, std::uint64_t&, const std::string&);
template Option Options::Add(const std::string&, std::int64_t&, const std::string&);

void Options::Footer(const std::string& text) {
  app_->footer(text);
}

void Options::AfterParse(std::function<std::string()> check) {
  app_->callback([check = std::move(check)] {
    const std::string refusal = check();
    if (!refusal.empty()) throw CLI::ValidationError(refusal);
  });
}

std::string Options::Name() const {
  return app_->get_name();
}

CommandTable::CommandTable(const std::string& description)
    : app_(std::make_unique<CLI::App>(description, LOADWING_CLI_NAME)) {
  AddVersionFlag(*app_);
  app_->require_subcommand(1);
  app_->footer("Run '" LOADWING_CLI_NAME " help COMMAND' for the options of a command.");
}

CommandTable::~CommandTable() = default;

Options CommandTable::Add(const std::string& name, const std::string& summary,
                          std::function<int()> run) {
  CLI::App* command = app_->add_subcommand(name, summary);
  // The program's footer points to the commands' help; a command's own help needs none.
  command->footer("");
  AddVersionFlag(*command);
  entries_.push_back(Entry{name, command, std::move(run)});
  return Options(command);
}

const CommandTable::Entry* CommandTable::Find(const std::string& name) const {
  for (const Entry& entry : entries_) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

std::string CommandTable::Names() const {
  std::string names;
  for (const Entry& entry : entries_) names += (names.empty() ? "" : ", ") + entry.name;
  return names;
}

std::string CommandTable::Help() const {
  return app_->help();
}

std::string CommandTable::FullHelp() const {
  std::string text = Help();
  // Each command under a heading of its own, indented beneath it, as help2man makes sections.
  for (const Entry& entry : entries_) {
    text += "\n" LOADWING_CLI_NAME " " + entry.name + ":\n";
    std::istringstream lines(entry.command->help(LOADWING_CLI_NAME));
    for (std::string line; std::getline(lines, line);) {
      text += (line.empty() ? "" : "  ") + line + "\n";
    }
  }
  return text;
}

int CommandTable::Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  const std::string more = "Run '" LOADWING_CLI_NAME " help' for the commands and their options.";
  // Bare, the program shows how it is used; "help [COMMAND]" is --help in other words.
  if (argc < 2) {
    out << Help() << std::flush;
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (first == "help") {
    if (argc == 2) {
      out << Help() << std::flush;
      return kExitCompleted;
    }
    const Entry* entry = Find(argv[2]);
    if (entry == nullptr || argc > 3) {
      Say(err, entry == nullptr
                   ? "unknown command '" + std::string(argv[2]) + "' (commands: " + Names() + ")"
                   : "help takes one command");
      err << more << std::endl;
      return kExitUsage;
    }
    out << entry->command->help(LOADWING_CLI_NAME) << std::flush;
    return kExitCompleted;
  }
  // The text the man page is made from.
  if (first == "--help-all" && argc == 2) {
    out << FullHelp() << std::flush;
    return kExitCompleted;
  }
  // CLI11 would only say that a command is required; name the word it did not know.
  if (!first.empty() && first[0] != '-' && Find(first) == nullptr) {
    Say(err, "unknown command '" + first + "' (commands: " + Names() + ")");
    err << more << std::endl;
    return kExitUsage;
  }
  try {
    app_->parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end well; every other parse error is a usage error.
    if (e.get_exit_code() == 0) return app_->exit(e, out, err) == 0 ? kExitCompleted : kExitUsage;
    Say(err, Trimmed(e.what()));
    for (const Entry& entry : entries_) {
      if (entry.command->parsed()) {
        err << "Run '" LOADWING_CLI_NAME " help " << entry.name << "' for its options."
            << std::endl;
        return kExitUsage;
      }
    }
    err << more << std::endl;
    return kExitUsage;
  }
  for (const Entry& entry : entries_) {
    if (entry.command->parsed()) return entry.run();
  }
  out << Help() << std::flush;
  return kExitUsage;
}

OptionCheck WholeNumber(unsigned long min, unsigned long max) {
  return OptionCheck{
      [min, max](const std::string& text) -> std::string {
        char* end = nullptr;
        const bool digits = !text.empty() && text.find_first_not_of("0123456789") == text.npos;
        const unsigned long long value = digits ? std::strtoull(text.c_str(), &end, 10) : 0;
        if (!digits || text.size() > 19 || value < min || value > max) {
          return "takes a whole number " +
                 RangeText(static_cast<double>(min), static_cast<double>(max)) + ", not '" +
                 TerminalText(text) + "'";
        }
        return "";
      },
      "N"};
}

OptionCheck NumberBetween(double min, double max) {
  return OptionCheck{[min, max](const std::string& text) -> std::string {
                       char* end = nullptr;
                       const double value = text.empty() ? 0 : std::strtod(text.c_str(), &end);
                       const bool number = !text.empty() && end != nullptr && *end == '\0';
                       // NaN fails both comparisons, so it is refused with the rest.
                       if (!number || !(value >= min && value <= max)) {
                         return "takes a number " + RangeText(min, max) + ", not '" +
                                TerminalText(text) + "'";
                       }
                       return "";
                     },
                     "X"};
}

OptionCheck NotEmpty(const std::string& what) {
  return OptionCheck{[what](const std::string& text) -> std::string {
                       return text.empty() ? "takes " + what + ", not an empty text" : "";
                     },
                     ""};
}

ProgramOptions::ProgramOptions(const std::string& name, const std::string& description,
                               const std::string& version)
    : app_(std::make_unique<CLI::App>(description, name)) {
  app_->set_version_flag("--version", version, "Print the version and exit");
}

ProgramOptions::~ProgramOptions() = default;

Options ProgramOptions::options() {
  return Options(app_.get());
}

std::optional<int> ProgramOptions::Parse(int argc, const char* const* argv, std::ostream& out,
                                         std::ostream& err, int usageExit) {
  try {
    app_->parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app_->exit(e, out, err) == 0 ? 0 : usageExit;
    const std::string name = app_->get_name();
    err << name << ": " << TerminalText(Trimmed(e.what())) << "\nRun '" << name
        << " --help' for its options." << std::endl;
    return usageExit;
  }
  return std::nullopt;
}

}  // namespace loadwing::cli
