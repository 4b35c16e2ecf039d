#include "cli/update_command.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "cli/command_table.h"
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

void AddUpdateOptions(CLI::App& command, UpdateOptions& options) {
  command.add_option("SET", options.set, "A folder of .mot/.hex files, or a TOML set file")
      ->required()
      ->check(NotEmpty("a folder or a set file"));
  AddLinkOptions(command, options.link.port, options.link.usb, options.link.sim,
                 options.link.simClockScale,
                 "Serial port, as for flash ('sim': the simulated machine, which answers every "
                 "controller)",
                 "Use the maker's USB cable");
  command.add_flag("--keep-going", options.keepGoing,
                   "Go on with the next controller after a failure");
  command.add_flag("--json", options.json, "Print one JSON event per line on stdout");
  command.add_flag("--strict", options.strict,
                   "Refuse files holding bytes a transfer would not send");
  command.footer(
      "A folder set: its .mot and .hex files, flashed as modules 0 to 7, the CAN module, the "
      "WebC controller and the main controller last.\n"
      "A set file (TOML): one [[firmware]] table per controller, flashed in their order, with "
      "the keys\n"
      "  file        the firmware file, relative to the set file's folder (required)\n"
      "  sha256      the SHA-256 the file must have (64 hex digits)\n"
      "  controller  the controller the file must be for\n"
      "  machine     the serial number on the machine's plate, kept in the record\n"
      "Controller names: module 0 ... module 7, CAN module, WebC (or WebC controller), main "
      "controller (or main, Fanfolder/Crossfolder), and the names info prints (Module3, "
      "CanModule, FanfolderCrossfolder); letter case, blanks, - and _ do not count.\n"
      "Example:\n"
      "  [[firmware]]\n"
      "  file = \"module3.mot\"\n"
      "  sha256 = \"2d3330b59ad0b9920dbc10f063513afbbbb030747a147e755ce8ce5c78e6cfb8\"\n"
      "  controller = \"module 3\"\n"
      "\n"
      "  [[firmware]]\n"
      "  file = \"main_controller.hex\"\n"
      "  controller = \"main controller\"\n"
      "Every file is checked before anything is sent: any problem refuses the whole set (exit "
      "2).");
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
