#include "cli/firmware_report.h"

#include <cstdio>

#include "cli/advice.h"
#include "cli/terminal_text.h"
#include "core/json.h"
#include "core/sha256.h"

namespace loadwing::cli {

namespace {

std::string Hex2(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string FormatInfoText(const TransferPlan& report) {
  std::string text;
  const auto line = [&text](const char* label, const std::string& value) {
    char padded[24];
    std::snprintf(padded, sizeof padded, "%-14s", label);
    text += padded;
    text += TerminalText(value);
    text += '\n';
  };
  line("file:", report.path);
  line("format:", report.intelHex ? "Intel HEX" : "Motorola S-records");
  // The status text keeps its leading blank, exactly as the status line shows it.
  line("status:", "\"" + report.outcome.statusText + "\"");
  if (!report.fileSha256.empty()) line("file sha256:", report.fileSha256);
  if (!report.loaded()) return text;
  const FirmwareTarget target = report.outcome.target;
  line("target:", TargetName(target) + " (" + std::to_string(static_cast<int>(target)) + ", " +
                      TargetDescription(target) + ")");
  line("request:", std::string(report.info->requestCode, 3));
  line("ready answer:", std::string(report.info->readyAnswer, 6));
  line("bytes sent:", std::to_string(report.imageSize));
  line("blocks:", std::to_string(report.blocks) + " of 256 bytes");
  line("check byte:", Hex2(PlanCheckByte(report)));
  line("sent sha256:", report.sentSha256);
  line("not sent:", std::to_string(report.bytesBeyond) + " bytes of the file");
  return text;
}

std::string FormatInfoJson(const TransferPlan& report, const std::vector<std::string>& problems) {
  JsonObject json;
  json.Add("file", report.path)
      .Add("format", report.intelHex ? "intel-hex" : "s-records")
      .Add("status", report.outcome.statusText)
      .Add("loaded", report.loaded())
      .Add("fileSha256", report.fileSha256);
  if (report.loaded()) {
    const FirmwareTarget target = report.outcome.target;
    json.Add("target", TargetName(target))
        .Add("targetValue", static_cast<int>(target))
        .Add("request", std::string_view(report.info->requestCode, 3))
        .Add("readyAnswer", std::string_view(report.info->readyAnswer, 6))
        .Add("bytes", report.imageSize)
        .Add("blocks", report.blocks)
        .Add("checkByte", Hex2(PlanCheckByte(report)))
        .Add("sentSha256", report.sentSha256)
        .Add("bytesBeyond", report.bytesBeyond);
  }
  if (report.intelHex) {
    const IntelHexStatistics& s = report.hexStatistics;
    json.AddRaw("hexRecords",
                JsonObject()
                    .Add("data", s.dataRecords)
                    .Add("address", s.addressRecords)
                    .Add("other", s.otherRecords)
                    .Add("segment", s.segmentRecords)
                    .Add("highestAddress", static_cast<std::int64_t>(s.highestAddress))
                    .str());
  }
  // What would go to stderr as text, so that a JSON reader needs nothing else.
  if (const auto warning = AddressRecordWarning(report)) json.Add("warning", *warning);
  if (const std::string advice = LoadFailureAdvice(report); !advice.empty()) {
    json.Add("advice", advice);
  }
  if (!problems.empty()) {
    std::string array = "[";
    for (const std::string& problem : problems) {
      if (array.size() > 1) array += ',';
      array += JsonString(problem);
    }
    json.AddRaw("problems", array + "]");
  }
  return json.str();
}

std::vector<std::string> FirmwareProblems(const TransferPlan& report,
                                          std::string_view expectedSha256, bool strict) {
  std::vector<std::string> problems;
  if (!expectedSha256.empty()) {
    if (report.fileSha256.empty()) {
      problems.push_back(report.path + " could not be read for its SHA-256");
    } else if (!SameSha256Text(expectedSha256, report.fileSha256)) {
      problems.push_back(report.path + " has SHA-256 " + report.fileSha256 + ", not the expected " +
                         std::string(expectedSha256));
    }
  }
  if (strict && report.bytesBeyond > 0) {
    problems.push_back(report.path + " holds " + std::to_string(report.bytesBeyond) +
                       " data byte(s) beyond the " + std::to_string(report.imageSize) +
                       " bytes a transfer sends (--strict)");
  }
  return problems;
}

std::optional<std::string> BytesBeyondWarning(const TransferPlan& report) {
  if (report.bytesBeyond == 0) return std::nullopt;
  return "warning: " + report.path + " holds " + std::to_string(report.bytesBeyond) +
         " data byte(s) beyond the first " + std::to_string(report.imageSize) +
         " bytes, which are all a transfer to the " + TargetDescription(report.outcome.target) +
         " sends; those bytes will not be flashed";
}

std::optional<std::string> AddressRecordWarning(const TransferPlan& report) {
  // A refused file has its own status text; what was skipped on the way does not matter then.
  const std::uint32_t skipped = report.SkippedAddressRecords();
  const std::uint32_t unknown = report.UnknownRecordsTakenAsData();
  if (skipped == 0 && unknown == 0) return std::nullopt;
  std::string text = "warning: " + report.path + ": ";
  if (skipped != 0) {
    text += "skipped " + std::to_string(skipped) +
            " address record(s) (types 02-05: zero base or start address), which carry no "
            "image data";
    if (unknown != 0) text += "; ";
  }
  if (unknown != 0) {
    text += std::to_string(unknown) +
            " record(s) of unknown type were taken as data at their address field, so those "
            "bytes will be flashed";
  }
  return text;
}

}  // namespace loadwing::cli
