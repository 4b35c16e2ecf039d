#include "cli/update_command.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "cli/command_table.h"
#include "cli/exit_codes.h"
#include "cli/interrupt.h"
#include "cli/session_clock.h"
#include "cli/sim_options.h"
#include "cli/terminal_text.h"
#include "cli/update_set.h"
#include "core/json.h"

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

void AddUpdateOptions(Options command, UpdateOptions& options) {
  command.Add("SET", options.set, "A folder of .mot/.hex files, or a TOML set file")
      .Required()
      .Check(NotEmpty("a folder or a set file"));
  AddLinkOptions(command, options.link.port, options.link.usb, options.link.sim,
                 options.link.simClockScale,
                 "Serial port, as for flash ('sim': the simulated machine, which answers every "
                 "controller)",
                 "Use the maker's USB cable");
  command.Flag("--keep-going", options.keepGoing, "Go on with the next controller after a failure");
  command.Flag("--json", options.json, "Print one JSON event per line on stdout");
  command.Add("--machine", options.machine,
              "The serial number on the machine's plate, kept in the flash record "
              "(as a set file's machine = \"...\")");
  command.Flag("--strict", options.strict, "Refuse files holding bytes a transfer would not send");
  command.Footer(
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
  TransferReporter reporter(options.json, out, err);
  UpdateSet set = ReadUpdateSet(options.set);
  CheckUpdateSet(set, options.strict);
  if (!set.machine.empty() && !options.machine.empty() && set.machine != options.machine) {
    set.problems.push_back("the set file is for machine " + set.machine + ", but --machine says " +
                           options.machine);
  }
  const std::string machine = options.machine.empty() ? set.machine : options.machine;
  if (!set.problems.empty()) {
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
    } else {
      err << "loadwing: the update set " << TerminalText(options.set)
          << " is refused; nothing was sent:" << std::endl;
      for (const std::string& problem : set.problems) {
        err << "  " << TerminalText(problem) << std::endl;
      }
    }
    return kExitBadFirmware;
  }
  // Stopped during the check: no link opened, nothing sent, nothing recorded.
  if (InterruptToken().Cancelled()) {
    if (options.json) {
      out << SummaryJson({}, kExitInterrupted, true) << std::endl;
    } else {
      err << "loadwing: interrupted while the set was checked; nothing was sent" << std::endl;
    }
    return kExitInterrupted;
  }

  const auto mode = options.json          ? TerminalStatusView::Mode::Json
                    : options.progressBar ? TerminalStatusView::Mode::Bar
                                          : TerminalStatusView::Mode::Lines;
  TerminalStatusView view(out, err, mode);
  MachineLink link;
  std::vector<std::string> why;
  const LinkError linkError = link.Open(options.link, view, why);
  if (!link.Note().empty()) reporter.Event("message", link.Note());
  if (linkError != LinkError::None) {
    view.Finish();
    reporter.Hints(why);
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
    const TransferPlan& plan = *d.item->report;
    if (options.json) {
      out << JsonObject()
                 .Add("event", "transfer")
                 .Add("controller", TargetName(plan.outcome.target))
                 .Add("file", plan.path)
                 .str()
          << std::endl;
    } else {
      Say(err, TargetDescription(plan.outcome.target) + " <- " + plan.path);
    }
    reporter.FileWarnings(plan, options.strict);
    const TransferRun run = RunTransfer(plan, link, view, reporter, machine);
    interrupted = run.outcome == FlashOutcome::Cancelled;
    d.seconds = run.seconds;
    d.outcome = FlashOutcomeName(run.outcome);
    d.exit = ExitCodeFor(run.outcome);
    if (options.json) {
      out << TransferResultJson(plan, d.outcome.c_str(), d.exit, run.status, &run.position, true)
          << std::endl;
    }
    if (d.exit != kExitCompleted && exitCode == kExitCompleted) exitCode = d.exit;
    if (interrupted) break;
    if (run.linkLost()) {
      // No later controller can be reached over a link that is gone; waiting out each one's
      // time limit would only record failures that never were tried.
      reporter.Event("error",
                     "the link to the machine was lost; the remaining controllers "
                     "were not sent");
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
