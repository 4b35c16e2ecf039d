#include "cli/update_command.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "cli/exit_codes.h"
#include "cli/json.h"
#include "cli/session_clock.h"
#include "cli/sim_options.h"
#include "cli/terminal_text.h"
#include "cli/update_set.h"

namespace loadwing::cli {

namespace {

// One line of the summary.
struct Done {
  const UpdateItem* item;
  std::string outcome = "not sent";
  int exit = -1;  // -1: not sent
  double seconds = 0;
};

std::string BaseName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

void PrintSummary(const std::vector<Done>& done, std::ostream& out) {
  char line[160];
  std::snprintf(line, sizeof line, "%-40s  %-26s  %8s  ", "controller", "outcome", "seconds");
  out << '\n' << line << "file\n";
  for (const Done& d : done) {
    const std::string controller = TargetDescription(d.item->report->outcome.target);
    std::snprintf(line, sizeof line, "%-40s  %-26s  %8.1f  ", controller.c_str(), d.outcome.c_str(),
                  d.seconds);
    out << line << TerminalText(BaseName(d.item->file)) << '\n';
  }
  out.flush();
}

std::string SummaryJson(const std::vector<Done>& done, int exitCode, bool interrupted) {
  std::string array = "[";
  for (const Done& d : done) {
    if (array.size() > 1) array += ',';
    JsonObject item;
    item.Add("controller", TargetName(d.item->report->outcome.target))
        .Add("file", d.item->file)
        .Add("outcome", d.outcome)
        .Add("milliseconds", static_cast<std::int64_t>(d.seconds * 1000 + 0.5));
    if (d.exit >= 0) item.Add("exit", d.exit);
    array += item.str();
  }
  array += ']';
  return JsonObject()
      .Add("event", "summary")
      .Add("outcome", interrupted     ? "interrupted"
                      : exitCode == 0 ? "completed"
                                      : "failed")
      .Add("exit", exitCode)
      .AddRaw("transfers", array)
      .str();
}

}  // namespace

CLI::App* AddUpdateCommand(CLI::App& app, UpdateOptions& options) {
  CLI::App* command = app.add_subcommand(
      "update", "Flash a whole machine: every firmware file of a folder or of a TOML set file");
  command->add_option("SET", options.set, "A folder of .mot/.hex files, or a TOML set file")
      ->required();
  CLI::Option* port = command->add_option("-p,--port", options.link.port,
                                          "Serial port, as for flash ('sim': the simulated "
                                          "machine, which answers every controller)");
  CLI::Option* usb = command->add_flag("--usb", options.link.usb, "Use the maker's USB cable");
  port->excludes(usb);
  command->add_flag("--keep-going", options.keepGoing,
                    "Go on with the next controller after a failure");
  command->add_flag("--json", options.json, "Print one JSON event per line on stdout");
  command->add_flag("--strict", options.strict,
                    "Refuse files holding bytes a transfer would not send");
  const std::vector<CLI::Option*> simOptions =
      AddSimOptions(*command, options.link.sim, options.link.simClockScale);
  command->parse_complete_callback([&options, simOptions] {
    if (!options.link.usb && options.link.port.empty()) {
      throw CLI::ValidationError("update", "give the machine's link: --port PORT, or --usb");
    }
    for (CLI::Option* option : simOptions) {
      if (option->count() > 0 && options.link.port != kSimPort) {
        throw CLI::ValidationError(option->get_name(), "only with --port sim");
      }
    }
  });
  return command;
}

int RunUpdate(const UpdateOptions& options, std::ostream& out, std::ostream& err) {
  UpdateSet set = ReadUpdateSet(options.set);
  CheckUpdateSet(set, options.strict);
  if (!set.problems.empty()) {
    Say(err, "the update set " + options.set + " is refused; nothing was sent:");
    for (const std::string& problem : set.problems)
      err << "  " << TerminalText(problem) << std::endl;
    if (options.json) {
      std::string array = "[";
      for (const std::string& problem : set.problems) {
        if (array.size() > 1) array += ',';
        array += JsonString(problem);
      }
      out << JsonObject()
                 .Add("event", "summary")
                 .Add("outcome", "refused")
                 .Add("exit", static_cast<int>(kExitBadFirmware))
                 .AddRaw("problems", array + "]")
                 .str()
          << std::endl;
    }
    return kExitBadFirmware;
  }

  const auto mode = options.json          ? TerminalStatusView::Mode::Json
                    : options.progressBar ? TerminalStatusView::Mode::Bar
                                          : TerminalStatusView::Mode::Lines;
  TerminalStatusView view(out, err, mode);
  MachineLink link;
  std::vector<std::string> why;
  const LinkError linkError = link.Open(options.link, view, why);
  if (!link.Note().empty() && !options.json) Say(err, link.Note());
  if (linkError != LinkError::None) {
    view.Finish();
    if (!options.json) {
      for (const std::string& line : why) Say(err, line);
    }
    if (options.json) {
      out << JsonObject()
                 .Add("event", "summary")
                 .Add("outcome", "no-link")
                 .Add("exit", static_cast<int>(ExitCodeFor(linkError)))
                 .Add("status", view.StatusText())
                 .str()
          << std::endl;
    }
    return ExitCodeFor(linkError);
  }

  std::vector<Done> done;
  for (const UpdateItem& item : set.items) done.push_back(Done{&item});
  int exitCode = kExitCompleted;
  bool interrupted = false;
  for (Done& d : done) {
    const FirmwareReport& report = *d.item->report;
    if (options.json) {
      out << JsonObject()
                 .Add("event", "transfer")
                 .Add("controller", TargetName(report.outcome.target))
                 .Add("file", report.path)
                 .str()
          << std::endl;
    } else {
      Say(err, TargetDescription(report.outcome.target) + " <- " + report.path);
    }
    view.SetStatusText(report.outcome.statusText);
    view.RefreshFields();
    TransferWatch watch(view);
    FlashRecordEntry entry = NewRecordEntry(report, link, std::time(nullptr));
    const double started = SteadySeconds();
    const FlashOutcome outcome = link.Transfer(report, view, watch);
    interrupted = outcome == FlashOutcome::Cancelled;
    view.Finish();
    d.seconds = SteadySeconds() - started;
    watch.Recorder().Finish(outcome, view.StatusText(), entry);
    AppendToFlashRecord(entry, [&](const std::string& text) {
      if (!options.json) Say(err, "warning: " + text);
    });
    d.outcome = OutcomeName(outcome);
    d.exit = ExitCodeFor(outcome);
    if (options.json) {
      out << JsonObject()
                 .Add("event", "result")
                 .Add("controller", TargetName(report.outcome.target))
                 .Add("outcome", d.outcome)
                 .Add("exit", d.exit)
                 .Add("status", view.StatusText())
                 .str()
          << std::endl;
    }
    if (d.exit != kExitCompleted && exitCode == kExitCompleted) exitCode = d.exit;
    if (interrupted) {
      err << "loadwing: interrupted; the " << TargetDescription(report.outcome.target)
          << " may hold incomplete firmware: flash it again" << std::endl;
      break;
    }
    if (d.exit != kExitCompleted && !options.keepGoing) break;
  }

  if (options.json) {
    out << SummaryJson(done, exitCode, interrupted) << std::endl;
  } else {
    PrintSummary(done, out);
  }
  return exitCode;
}

}  // namespace loadwing::cli
