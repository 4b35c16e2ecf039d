#pragma once
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
class Validator;
}  // namespace CLI

namespace loadwing::cli {

// Every command of the command line, each registered once: its name, one-line summary, options
// and help, and the function that runs it. The program's help, `help COMMAND`, `COMMAND --help`,
// the unknown-command message and the man page all come from here.
//
// Adding a command: write its Run function (returning an ExitCode), then in main
//   CLI::App& c = table.Add("name", "One-line summary", [&] { return RunName(options, ...); });
//   c.add_option(...);   // its options, with their help texts
class CommandTable {
 public:
  // description: the program's help text above the command list.
  explicit CommandTable(const std::string& description);
  ~CommandTable();
  CommandTable(const CommandTable&) = delete;
  CommandTable& operator=(const CommandTable&) = delete;

  // Registers a command; its options go on the returned command. run is called only when the
  // command line names this command and parsed without error.
  CLI::App& Add(const std::string& name, const std::string& summary, std::function<int()> run);

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

// Option checks whose refusal a person can read; each runs on the text given, before it is
// converted, so that no conversion error or floating-point range reaches the user.
// A whole number from min to max.
CLI::Validator WholeNumber(unsigned long min, unsigned long max);
// A number (with a fraction) from min to max.
CLI::Validator NumberBetween(double min, double max);
// Any text but an empty one; what names what the option takes ("a file name, or -").
CLI::Validator NotEmpty(const std::string& what);

}  // namespace loadwing::cli
