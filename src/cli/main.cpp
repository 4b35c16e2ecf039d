// loadwing: the command line of the firmware loader, for Linux and Windows.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli/command_table.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/interrupt.h"
#include "cli/record_command.h"
#include "cli/selftest_command.h"
#include "cli/sim_options.h"
#include "cli/terminal.h"
#include "cli/terminal_text.h"
#include "cli/trace_file.h"
#include "cli/update_command.h"

namespace {

using namespace loadwing::cli;

constexpr const char* kFirmwareFileHelp = "Intel HEX file, or Motorola S-records (.mot)";

// Signals and the terminal, for the commands that talk to a machine.
void PrepareTransfer(bool& progressBar, bool* finalOnOut) {
  InstallInterruptHandlers();
  const bool errIsTerminal = StreamIsTerminal(stderr);
  progressBar = errIsTerminal;
  // Where err shows on the same terminal, or lands in the same file, the final status is there.
  if (finalOnOut != nullptr) {
    *finalOnOut = !(errIsTerminal && StreamIsTerminal(stdout)) && !StreamsShareFile(stdout, stderr);
  }
}

// --trace and --trace-replace, the same on both transfer commands.
struct TraceOption {
  std::string path;
  bool replace = false;
  std::unique_ptr<TraceFile> file;

  void AddTo(Options command) {
    command.Add("--trace", path,
                "Write every byte on the link, timed, into this new file (docs/trace.md)");
    command.Flag("--trace-replace", replace, "Replace the --trace file if it exists");
  }
  // Makes the file before the link is opened; false, said on err, when it cannot be made.
  bool Open(loadwing::TraceSink*& sink) {
    if (path.empty()) return true;
    std::string error;
    file = TraceFile::Create(path, replace, error);
    if (!file) {
      Say(std::cerr, "--trace " + path + ": " + error);
      return false;
    }
    sink = file.get();
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  IgnoreBrokenPipe();
  CommandTable table(
      "Writes firmware into the controllers of a Fanfolder/Crossfolder folding machine over a "
      "serial port or the maker's USB cable.\n"
      "Exit codes: 0 completed, 1 usage, 2 bad firmware file or refused set, 3 no link, "
      "4 no answer, 5 unexpected answer, 6 erase error, 7 block refused or unanswered, "
      "8 check failed (CSFAIL), 9 other or no verdict, 10 write error, 11 output or trace not "
      "written, 12 selftest: nothing came back, 13 selftest: bytes lost or changed, 14 selftest: "
      "latency far too high, 15 record unreadable, 130 interrupted (Ctrl-C, SIGTERM, SIGHUP).");

  bool portsJson = false;
  Options ports = table.Add("ports", "List the serial ports and the USB cable",
                            [&] { return RunPorts(portsJson, std::cout, std::cerr); });
  ports.Flag("--json", portsJson, "Print one JSON object");

  struct {
    std::string file;
    bool json = false;
    bool strict = false;
  } info;
  Options infoCommand =
      table.Add("info", "Show how a firmware file loads and what a transfer of it would send",
                [&] { return RunInfo(info.file, info.json, info.strict, std::cout, std::cerr); });
  infoCommand.Add("FILE", info.file, kFirmwareFileHelp).Required();
  infoCommand.Flag("--json", info.json, "Print one JSON object");
  infoCommand.Flag("--strict", info.strict,
                   "Bytes of the file a transfer would not send are an error");

  struct {
    std::string file;
    std::string output;
    bool full = false;
  } decode;
  Options decodeCommand = table.Add(
      "decode", "Write the bytes a transfer of a firmware file would send into a binary file", [&] {
        if (decode.output == "-" && StreamIsTerminal(stdout)) {
          Say(std::cerr,
              "not writing a binary image to the terminal; redirect stdout to a file or a "
              "program");
          return static_cast<int>(kExitUsage);
        }
        return RunDecode(decode.file, decode.output, decode.full, std::cout, std::cerr);
      });
  decodeCommand.Add("FILE", decode.file, kFirmwareFileHelp).Required();
  decodeCommand
      .Add("-o,--output", decode.output,
           "Binary file to write, or - for standard output; an existing file is "
           "replaced only when it is a regular file other than FILE")
      .Required()
      .Check(NotEmpty("a file name, or - for standard output"));
  decodeCommand.Flag("--full", decode.full, "Write the whole 131072-byte image");

  FlashOptions flash;
  TraceOption flashTrace;
  Options flashCommand =
      table.Add("flash", "Write a firmware file into the controller it is for", [&] {
        if (!flashTrace.Open(flash.trace)) return static_cast<int>(kExitOutputError);
        PrepareTransfer(flash.progressBar, &flash.finalOnOut);
        return RunFlash(flash, std::cout, std::cerr);
      });
  flashCommand.Add("FILE", flash.file, kFirmwareFileHelp).Required();
  AddLinkOptions(flashCommand, flash.port, flash.usb, flash.sim, flash.simClockScale,
#ifdef _WIN32
                 "Serial port: COM1, COM2, ...", "Use the maker's USB cable (FTDI's D2XX driver)"
#else
                 "Serial port: a device path (/dev/ttyUSB0), a /dev/serial/by-id name, or 'sim' "
                 "for the built-in simulated machine",
                 "Use the maker's USB cable (through libftdi)"
#endif
  );
  flashCommand.Flag("--json", flash.json, "Print one JSON event per line on stdout");
  flashCommand.Add("--expect-sha256", flash.expectSha256,
                   "Refuse the file, before the link is opened, unless it has this "
                   "SHA-256 (64 hex digits)");
  flashCommand.Add("--machine", flash.machine,
                   "The serial number on the machine's plate, kept in the flash record");
  flashCommand.Flag("--strict", flash.strict,
                    "Refuse a file holding bytes a transfer would not send");
  flashTrace.AddTo(flashCommand);

  UpdateOptions update;
  TraceOption updateTrace;
  Options updateCommand = table.Add(
      "update", "Flash a whole machine: every firmware file of a folder or of a TOML set file",
      [&] {
        if (!updateTrace.Open(update.link.trace)) return static_cast<int>(kExitOutputError);
        PrepareTransfer(update.progressBar, nullptr);
        return RunUpdate(update, std::cout, std::cerr);
      });
  AddUpdateOptions(updateCommand, update);
  updateTrace.AddTo(updateCommand);

  RecordOptions record;
  AddRecordOptions(
      table.Add("record", "Show the record of every transfer made by this user, newest last",
                [&] { return RunRecord(record, std::cout, std::cerr); }),
      record);

  SelftestOptions selftest;
  Options selftestCommand = table.Add(
      "selftest",
      "Check a serial port or the USB cable through a loopback plug (TX joined to RX), with no "
      "machine on the line",
      [&] {
        if (!selftest.usb && selftest.port.empty()) {
          Say(std::cerr, "selftest: give the link to check: --port PORT, or --usb");
          return static_cast<int>(kExitUsage);
        }
        InstallInterruptHandlers();
        return RunSelftest(selftest, std::cout, std::cerr);
      });
  Option selftestPort = selftestCommand.Add("-p,--port", selftest.port, "Serial port to check");
  selftestCommand.Flag("--usb", selftest.usb, "Check the maker's USB cable").Excludes(selftestPort);
  selftestCommand.Flag("--json", selftest.json, "Print one JSON event per line on stdout");

  return table.Run(argc, argv, std::cout, std::cerr);
}
