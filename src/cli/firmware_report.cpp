#include "cli/firmware_report.h"

#include <cstdio>

#include "app/flash_record.h"
#include "cli/advice.h"
#include "cli/json.h"
#include "cli/terminal_text.h"
#include "core/sha256.h"
#include "flash/check_byte.h"

namespace loadwing::cli {

namespace {

std::string Hex2(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

FirmwareReport LoadFirmwareReport(const std::string& path) {
  FirmwareReport report;
  report.path = path;
  report.image = std::make_unique<FirmwareImage>();
  report.intelHex = !IsSRecordFile(path);
  ImageCoverage coverage;
  report.outcome = LoadFirmwareFile(path, *report.image, PlatformFirmwareFileSystem(),
                                    &report.hexStatistics, &coverage);
  report.info = FindFlashTargetInfo(report.outcome.target);
  if (const auto bytes = ReadWholeFile(path)) {
    if (auto digest = Sha256Of(bytes->data(), bytes->size()))
      report.fileSha256 = Sha256Hex(*digest);
  }
  if (report.info != nullptr) {
    report.imageSize = report.info->imageSize;
    report.blocks = report.imageSize / 256;
    report.bytesBeyond = coverage.CountFrom(report.imageSize);
    if (auto digest = Sha256Of(report.image->data.data(), report.imageSize)) {
      report.sentSha256 = Sha256Hex(*digest);
    }
  }
  return report;
}

std::uint8_t FirmwareCheckByte(const FirmwareReport& report) {
  ImageCheckByte check;
  check.Update(report.image->data.data(), report.imageSize);
  return check.value();
}

std::string FormatInfoText(const FirmwareReport& report) {
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
  line("check byte:", Hex2(FirmwareCheckByte(report)));
  line("sent sha256:", report.sentSha256);
  line("not sent:", std::to_string(report.bytesBeyond) + " bytes of the file");
  return text;
}

std::string FormatInfoJson(const FirmwareReport& report) {
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
        .Add("checkByte", Hex2(FirmwareCheckByte(report)))
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
                    .Add("highestAddress", static_cast<std::int64_t>(s.highestAddress))
                    .str());
  }
  // What would go to stderr as text, so that a JSON reader needs nothing else.
  if (const auto warning = AddressRecordWarning(report)) json.Add("warning", *warning);
  if (const std::string advice = LoadFailureAdvice(report); !advice.empty()) {
    json.Add("advice", advice);
  }
  return json.str();
}

std::vector<std::string> FirmwareProblems(const FirmwareReport& report,
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

std::optional<std::string> BytesBeyondWarning(const FirmwareReport& report) {
  if (report.bytesBeyond == 0) return std::nullopt;
  return "warning: " + report.path + " holds " + std::to_string(report.bytesBeyond) +
         " data byte(s) beyond the first " + std::to_string(report.imageSize) +
         " bytes, which are all a transfer to the " + TargetDescription(report.outcome.target) +
         " sends; those bytes will not be flashed";
}

std::optional<std::string> AddressRecordWarning(const FirmwareReport& report) {
  // A refused file has its own status text; what was skipped on the way does not matter then.
  if (!report.intelHex || !report.loaded()) return std::nullopt;
  const IntelHexStatistics& s = report.hexStatistics;
  if (s.addressRecords == 0 && s.otherRecords == 0) return std::nullopt;
  std::string text = "warning: " + report.path + ": ";
  if (s.addressRecords != 0) {
    text += "skipped " + std::to_string(s.addressRecords) +
            " address record(s) (types 02-05: zero base or start address), which carry no "
            "image data";
    if (s.otherRecords != 0) text += "; ";
  }
  if (s.otherRecords != 0) {
    text += std::to_string(s.otherRecords) +
            " record(s) of unknown type were taken as data at their address field, so those "
            "bytes will be flashed";
  }
  return text;
}

}  // namespace loadwing::cli
