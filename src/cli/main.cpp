// loadwing: the command line of the firmware loader, for Linux and Windows.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/interrupt.h"
#include "cli/record_command.h"
#include "cli/selftest_command.h"
#include "cli/session_clock.h"
#include "cli/sim_options.h"
#include "cli/terminal.h"
#include "cli/terminal_status_view.h"
#include "cli/trace_file.h"
#include "cli/update_command.h"

namespace {

using namespace loadwing::cli;

constexpr const char* kVersionText = "loadwing " LOADWING_VERSION;

// --version and --help on the program and on every command.
void AddVersionFlag(CLI::App& app) {
  app.add_flag_callback(
      "--version", [] { throw CLI::CallForVersion(kVersionText, 0); },
      "Print the version and exit");
}

}  // namespace

int main(int argc, char** argv) {
  IgnoreBrokenPipe();
  CLI::App app{
      "Writes firmware into the controllers of a Fanfolder/Crossfolder folding machine over a "
      "serial port or the maker's USB cable.\n"
      "Exit codes: 0 completed, 1 usage, 2 bad firmware file, 3 no link, 4 no answer, "
      "5 unexpected answer, 6 erase error, 7 block refused or unanswered, 8 check failed "
      "(CSFAIL), 9 other or no verdict, 10 write error, 11 output not written, 130 interrupted "
      "(Ctrl-C, SIGTERM, SIGHUP).",
      LOADWING_CLI_NAME};
  AddVersionFlag(app);
  app.require_subcommand(1);
  app.footer("Run '" LOADWING_CLI_NAME " help COMMAND' for the options of a command.");

  bool json = false;
  bool strict = false;

  CLI::App* ports = app.add_subcommand("ports", "List the serial ports and the USB cable");
  AddVersionFlag(*ports);
  ports->add_flag("--json", json, "Print one JSON object");

  std::string file;
  CLI::App* info = app.add_subcommand(
      "info", "Show how a firmware file loads and what a transfer of it would send");
  AddVersionFlag(*info);
  info->add_option("FILE", file, "Intel HEX file, or Motorola S-records (.mot)")->required();
  info->add_flag("--json", json, "Print one JSON object");

  std::string output;
  bool full = false;
  CLI::App* decode = app.add_subcommand(
      "decode", "Write the bytes a transfer of a firmware file would send into a binary file");
  AddVersionFlag(*decode);
  decode->add_option("FILE", file, "Intel HEX file, or Motorola S-records (.mot)")->required();
  decode
      ->add_option("-o,--output", output,
                   "Binary file to write, or - for standard output; an existing file is "
                   "replaced only when it is a regular file other than FILE")
      ->required();
  decode->add_flag("--full", full, "Write the whole 131072-byte image");

  FlashOptions flash;
  CLI::App* flashCommand =
      app.add_subcommand("flash", "Write a firmware file into the controller it is for");
  AddVersionFlag(*flashCommand);
  flashCommand->add_option("FILE", flash.file, "Intel HEX file, or Motorola S-records (.mot)")
      ->required();
  CLI::Option* portOption = flashCommand->add_option("-p,--port", flash.port,
#ifdef _WIN32
                                                     "Serial port: COM1, COM2, ..."
#else
                                                     "Serial port: a device path (/dev/ttyUSB0), "
                                                     "a /dev/serial/by-id name, or 'sim' for the "
                                                     "built-in simulated machine"
#endif
  );
  CLI::Option* usbOption = flashCommand->add_flag("--usb", flash.usb,
#ifdef _WIN32
                                                  "Use the maker's USB cable (FTDI's D2XX driver)"
#else
                                                  "Use the maker's USB cable (through libftdi)"
#endif
  );
  portOption->excludes(usbOption);
  flashCommand->add_flag("--json", flash.json, "Print one JSON event per line on stdout");

  const std::vector<CLI::Option*> simOptions =
      AddSimOptions(*flashCommand, flash.sim, flash.simClockScale);
  flashCommand->add_option("--expect-sha256", flash.expectSha256,
                           "Refuse the file, before the link is opened, unless it has this "
                           "SHA-256 (64 hex digits)");
  flashCommand->add_option("--machine", flash.machine,
                           "The serial number on the machine's plate, kept in the flash record");
  flashCommand->add_flag("--strict", flash.strict,
                         "Refuse a file holding bytes a transfer would not send");
  info->add_flag("--strict", strict, "Bytes of the file a transfer would not send are an error");

  RecordOptions record;
  CLI::App* recordCommand = AddRecordCommand(app, record);
  AddVersionFlag(*recordCommand);
  UpdateOptions update;
  CLI::App* updateCommand = AddUpdateCommand(app, update);
  AddVersionFlag(*updateCommand);

  SelftestOptions selftest;
  CLI::App* selftestCommand = app.add_subcommand(
      "selftest",
      "Check a serial port or the USB cable through a loopback plug (TX joined to RX), with no "
      "machine on the line");
  AddVersionFlag(*selftestCommand);
  CLI::Option* selftestPort =
      selftestCommand->add_option("-p,--port", selftest.port, "Serial port to check");
  selftestCommand->add_flag("--usb", selftest.usb, "Check the maker's USB cable")
      ->excludes(selftestPort);
  selftestCommand->add_flag("--json", selftest.json, "Print one JSON event per line on stdout");

  // Both transfer commands can trace their link; the option reads the same on each.
  std::string tracePath;
  bool traceReplace = false;
  for (CLI::App* command : {flashCommand, updateCommand}) {
    command->add_option("--trace", tracePath,
                        "Write every byte on the link, timed, into this new file (docs/trace.md)");
    command->add_flag("--trace-replace", traceReplace, "Replace the --trace file if it exists");
  }

  // Each answer the simulated machine gives can be set one way only (indices: the order above).
  const auto exclusive = [](std::initializer_list<CLI::Option*> options) {
    for (CLI::Option* a : options) {
      for (CLI::Option* b : options) {
        if (a != b) a->excludes(b);
      }
    }
  };
  exclusive({simOptions[2], simOptions[3], simOptions[4]});  // the answer to the request
  exclusive({simOptions[5], simOptions[6]});                 // the block answered otherwise
  exclusive({simOptions[7], simOptions[8]});                 // the verdict

  // Bare, the program shows how it is used; "help [COMMAND]" is --help in other words.
  if (argc < 2) {
    std::cout << app.help() << std::flush;
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (first == "help") {
    if (argc > 2) {
      for (CLI::App* command : {ports, info, decode, flashCommand}) {
        if (command->get_name() == argv[2]) {
          std::cout << command->help() << std::flush;
          return kExitCompleted;
        }
      }
      std::cerr << LOADWING_CLI_NAME ": unknown command '" << argv[2]
                << "' (commands: ports, info, decode, flash)" << std::endl;
      return kExitUsage;
    }
    std::cout << app.help() << std::flush;
    return kExitCompleted;
  }
  // CLI11 would only say that a command is required; name the word it did not know.
  if (first[0] != '-' && first != "ports" && first != "info" && first != "decode" &&
      first != "flash" && first != "update" && first != "record" && first != "selftest") {
    std::cerr << LOADWING_CLI_NAME ": unknown command '" << argv[1]
              << "' (commands: ports, info, decode, flash, update, record, selftest)\nRun with "
                 "--help for more information."
              << std::endl;
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
    if (*flashCommand) {
      if (!flash.usb && flash.port.empty()) {
        throw CLI::ValidationError("flash", "give the machine's link: --port PORT, or --usb");
      }
      for (CLI::Option* option : simOptions) {
        if (option->count() > 0 && flash.port != kSimPort) {
          throw CLI::ValidationError(option->get_name(), "only with --port sim");
        }
      }
    }
    if (*selftestCommand && !selftest.usb && selftest.port.empty()) {
      throw CLI::ValidationError("selftest", "give the link to check: --port PORT, or --usb");
    }
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    // Help and version end well; every other parse error is a usage error.
    return code == 0 ? kExitCompleted : kExitUsage;
  }

  if (*ports) return RunPorts(json, std::cout, std::cerr);
  if (*info) return RunInfo(file, json, strict, std::cout, std::cerr);
  if (*decode && output == "-" && StreamIsTerminal(stdout)) {
    std::cerr << LOADWING_CLI_NAME
        ": not writing a binary image to the terminal; redirect "
        "stdout to a file or a program"
              << std::endl;
    return kExitUsage;
  }
  if (*recordCommand) return RunRecord(record, std::cout, std::cerr);
  if (*decode) return RunDecode(file, output, full, std::cout, std::cerr);

  std::unique_ptr<TraceFile> trace;
  if (!tracePath.empty()) {
    std::string error;
    trace = TraceFile::Create(tracePath, traceReplace, error);
    if (!trace) {
      std::cerr << LOADWING_CLI_NAME ": --trace " << TerminalText(tracePath) << ": " << error
                << std::endl;
      return kExitOutputError;
    }
    flash.trace = trace.get();
    update.link.trace = trace.get();
  }

  InstallInterruptHandlers();
  if (*selftestCommand) return RunSelftest(selftest, std::cout, std::cerr);
  const bool errIsTerminal = StreamIsTerminal(stderr);
  flash.progressBar = errIsTerminal;
  // Where err shows on the same terminal, or lands in the same file, the final status is there.
  flash.finalOnOut =
      !(errIsTerminal && StreamIsTerminal(stdout)) && !StreamsShareFile(stdout, stderr);
  if (*updateCommand) {
    update.progressBar = errIsTerminal;
    return RunUpdate(update, std::cout, std::cerr);
  }
  return RunFlash(flash, std::cout, std::cerr);
}
