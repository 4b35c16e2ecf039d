#pragma once
#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace loadwing::cli {

// The command line's parser (CLI11) is header-only, and most of the compile time of a file that
// uses it goes into generating its code again. So this file's .cpp is the only one that includes
// it: commands declare their options through the small interface below.

// A check of an option's text, run before the text is converted, so that no conversion error or
// floating-point range reaches the user.
struct OptionCheck {
  // The refusal to show after the option's name, or "" when the text is fine.
  std::function<std::string(const std::string& text)> refusal;
  std::string placeholder;  // shown after the option in the help ("N"); "" for the default
};
// A whole number from min to max.
OptionCheck WholeNumber(unsigned long min, unsigned long max);
// A number (with a fraction) from min to max.
OptionCheck NumberBetween(double min, double max);
// Any text but an empty one; what names what the option takes ("a file name, or -").
OptionCheck NotEmpty(const std::string& what);

// The kinds of value an option can fill (std::size_t is one of the two unsigned ones).
template <typename Value>
concept OptionValue = std::same_as<Value, std::string> ||
    std::same_as<Value, std::optional<std::string>> || std::same_as<Value, double> ||
    std::same_as<Value, std::uint32_t> || std::same_as<Value, std::optional<std::uint32_t>> ||
    std::same_as<Value, std::uint64_t> || std::same_as<Value, std::int64_t>;

// One declared option; a handle that stays valid as long as its table.
class Option {
 public:
  Option& Required();
  Option& Check(const OptionCheck& check);
  // This option and other may not both be given.
  Option& Excludes(Option other);
  // The heading it is listed under in the help.
  Option& Group(const std::string& heading);
  // After parsing: whether the command line gave it.
  [[nodiscard]] bool Given() const;
  // "--port": its longest name.
  [[nodiscard]] std::string Name() const;

 private:
  friend class Options;
  explicit Option(CLI::Option* option) : option_(option) {}
  CLI::Option* option_;
};

// The options of one command, or of a program without commands. Each value lands in the
// variable given when the line is parsed; the variables must outlive the parse. Names as the
// help shows them: "-p,--port", "--json"; a name without dashes ("FILE") is a positional one.
class Options {
 public:
  Option Flag(const std::string& names, bool& value, const std::string& help);
  template <OptionValue Value>
  Option Add(const std::string& names, Value& value, const std::string& help);
  // Text shown below the options in the help.
  void Footer(const std::string& text);
  // Runs once the whole line is parsed (so that a misspelt option is named first); a text it
  // returns refuses the line as a usage error, with that text as its message.
  void AfterParse(std::function<std::string()> check);
  // The command's name ("flash").
  [[nodiscard]] std::string Name() const;

 private:
  friend class CommandTable;
  friend class ProgramOptions;
  explicit Options(CLI::App* app) : app_(app) {}
  CLI::App* app_;
};

// Every command of the command line, each registered once: its name, one-line summary, options
// and help, and the function that runs it. The program's help, `help COMMAND`, `COMMAND --help`,
// the unknown-command message and the man page all come from here.
//
// Adding a command: write its Run function (returning an ExitCode), then in main
//   Options c = table.Add("name", "One-line summary", [&] { return RunName(options, ...); });
//   c.Add(...);   // its options, with their help texts
class CommandTable {
 public:
  // description: the program's help text above the command list.
  explicit CommandTable(const std::string& description);
  ~CommandTable();
  CommandTable(const CommandTable&) = delete;
  CommandTable& operator=(const CommandTable&) = delete;

  // Registers a command; its options go on the returned one. run is called only when the
  // command line names this command and parsed without error.
  Options Add(const std::string& name, const std::string& summary, std::function<int()> run);

  // Parses the arguments and runs the command they name; the process exit code. Usage errors,
  // help and the version go to out and err here.
  [[nodiscard]] int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

  // The program's help: what it does and every command with its summary.
  [[nodiscard]] std::string Help() const;
  // The program's help followed by every command's: the text the man page is made from.
  [[nodiscard]] std::string FullHelp() const;
  // "ports, info, ...": the names in the order they were added.
  [[nodiscard]] std::string Names() const;

 private:
  struct Entry {
    std::string name;
    CLI::App* command;
    std::function<int()> run;
  };
  const Entry* Find(const std::string& name) const;

  std::unique_ptr<CLI::App> app_;
  std::vector<Entry> entries_;
};

// The options of a program without commands (loadwing-sim), with --help and --version.
class ProgramOptions {
 public:
  ProgramOptions(const std::string& name, const std::string& description,
                 const std::string& version);
  ~ProgramOptions();
  ProgramOptions(const ProgramOptions&) = delete;
  ProgramOptions& operator=(const ProgramOptions&) = delete;

  Options options();
  // Parses the arguments: nothing when the program goes on, else the exit code to end with: 0
  // after the help or the version, usageExit after a usage error, which is said on err.
  [[nodiscard]] std::optional<int> Parse(int argc, const char* const* argv, std::ostream& out,
                                         std::ostream& err, int usageExit);

 private:
  std::unique_ptr<CLI::App> app_;
};

}  // namespace loadwing::cli
