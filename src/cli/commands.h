#pragma once
#include <ostream>
#include <string>

#include "cli/cli_platform.h"
#include "cli/flash_session.h"

namespace loadwing::cli {

// Errors on the command line: each command returns the process exit code (cli/exit_codes.h),
// mapped from the lower layers' enums with a switch; its messages go to err as one line each,
// "loadwing: " and the text made safe for the terminal (Say); usage errors come from the
// command table with the same prefix. With --json the results are JSON on out.

// The commands of the command line. Each writes its results to out and its messages to err and
// returns the process exit code (cli/exit_codes.h).

[[nodiscard]] int RunPorts(bool json, std::ostream& out, std::ostream& err);

// strict: bytes of the file that a transfer would not send are an error (exit 2).
[[nodiscard]] int RunInfo(const std::string& file, bool json, bool strict, std::ostream& out,
                          std::ostream& err);

[[nodiscard]] int RunDecode(const std::string& file, const std::string& output, bool full,
                            std::ostream& out, std::ostream& err);

struct FlashOptions {
  std::string file;
  std::string port;  // a serial port, or "sim"; empty with usb
  bool usb = false;
  bool json = false;
  // How progress shows on err when not json: a bar redrawn in place (for terminals) or lines.
  bool progressBar = false;
  // The final status text goes to out; false when err shows on the same terminal already.
  bool finalOnOut = true;
  SimOptions sim;
  double simClockScale = 1.0;
  // Refuse, before the link is opened, a file whose SHA-256 is not this (64 hex digits).
  std::string expectSha256;
  // Refuse a file holding bytes a transfer would not send; otherwise a warning.
  bool strict = false;
  // The serial number on the machine's plate, kept in the record; empty: not given.
  std::string machine;
  // Where the link is traced; none: not traced.
  TraceSink* trace = nullptr;
};

[[nodiscard]] int RunFlash(const FlashOptions& options, std::ostream& out, std::ostream& err);

}  // namespace loadwing::cli
