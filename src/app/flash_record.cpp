#include "app/flash_record.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/sha256.h"
#include "firmware/firmware_target_names.h"

namespace loadwing {

namespace {

using Json = nlohmann::ordered_json;

// Seconds to the millisecond: more only makes the lines longer.
double Rounded(double seconds) {
  return static_cast<double>(static_cast<std::int64_t>(seconds * 1000.0 + 0.5)) / 1000.0;
}

void ReadLines(const std::string& path, FlashRecordContents& contents) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return;
  contents.found = true;
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (auto entry = ParseFlashRecordLine(line)) {
      contents.entries.push_back(std::move(*entry));
    } else {
      contents.notes.push_back("line " + std::to_string(number) + " of " + path +
                               " is incomplete or not a record (cut off?): skipped");
    }
  }
}

}  // namespace

std::string UtcTimeText(std::int64_t seconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &t);
#else
  gmtime_r(&t, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string FlashRecordLine(const FlashRecordEntry& e) {
  const Json json = {
      {"time", e.time},
      {"program", e.program},
      {"version", e.version},
      {"link", e.link},
      {"file", e.file},
      {"fileSha256", e.fileSha256},
      {"sentSha256", e.sentSha256},
      {"target", e.target},
      {"bytes", e.bytes},
      {"blocks", e.blocks},
      {"blocksAcknowledged", e.blocksAcknowledged},
      {"outcome", e.outcome},
      {"status", e.status},
      {"verdict", e.verdict},
      {"seconds",
       {{"query", Rounded(e.querySeconds)},
        {"blocks", Rounded(e.blockSeconds)},
        {"verdict", Rounded(e.verdictSeconds)}}},
  };
  // Bytes that are no UTF-8 (a machine's answer can hold any) are replaced rather than thrown
  // about: a record line must always be written.
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<FlashRecordEntry> ParseFlashRecordLine(std::string_view line) {
  const Json json = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return std::nullopt;
  try {
    FlashRecordEntry e;
    e.time = json.at("time").get<std::string>();
    e.program = json.value("program", "");
    e.version = json.value("version", "");
    e.link = json.value("link", "");
    e.file = json.value("file", "");
    e.fileSha256 = json.value("fileSha256", "");
    e.sentSha256 = json.value("sentSha256", "");
    e.target = json.value("target", "");
    // Counts are whole numbers of 32 bits: converting any other number would be undefined.
    for (const char* key : {"bytes", "blocks", "blocksAcknowledged"}) {
      const auto count = json.find(key);
      if (count != json.end() &&
          (!count->is_number_unsigned() || count->get<std::uint64_t>() > 0xFFFF'FFFFu)) {
        return std::nullopt;
      }
    }
    e.bytes = json.value("bytes", 0u);
    e.blocks = json.value("blocks", 0u);
    e.blocksAcknowledged = json.value("blocksAcknowledged", 0u);
    e.outcome = json.at("outcome").get<std::string>();
    e.status = json.value("status", "");
    e.verdict = json.value("verdict", "");
    if (json.contains("seconds")) {
      const Json& s = json.at("seconds");
      e.querySeconds = s.value("query", 0.0);
      e.blockSeconds = s.value("blocks", 0.0);
      e.verdictSeconds = s.value("verdict", 0.0);
    }
    // Seconds are never negative, and a day's worth at most: beyond that rounding them for the
    // line would overflow.
    for (const double seconds : {e.querySeconds, e.blockSeconds, e.verdictSeconds}) {
      if (!(seconds >= 0 && seconds <= 1e9)) return std::nullopt;
    }
    return e;
  } catch (const Json::exception&) {
    return std::nullopt;  // a field of the wrong type: not one of ours
  }
}

bool FileFlashRecord::Append(const FlashRecordEntry& entry, std::string& error) {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  if (ec) {
    error = "cannot create " + folder.string() + ": " + ec.message();
    return false;
  }
  return AppendRecordLine(path_, FlashRecordLine(entry), kRotateBytes, error);
}

FlashRecordContents ReadFlashRecord(const std::string& path) {
  FlashRecordContents contents;
  ReadLines(path + ".1", contents);
  ReadLines(path, contents);
  return contents;
}

TransferRecorder::TransferRecorder(std::function<double()> seconds)
    : seconds_(std::move(seconds)) {}

void TransferRecorder::PhaseStarted(FlashPhase phase) {
  phaseStart_[static_cast<int>(phase)] = seconds_();
}

void TransferRecorder::BlockAcknowledged(std::uint32_t index, std::uint32_t /*blocks*/) {
  acknowledged_ = index + 1;
}

void TransferRecorder::VerdictReceived(std::string_view answer) {
  verdict_ = std::string(answer);
}

void TransferRecorder::Finish(FlashOutcome outcome, const std::string& status,
                              FlashRecordEntry& entry) {
  const double end = seconds_();
  // Each phase lasts until the next one starts, the last one until now.
  double* const spans[3] = {&entry.querySeconds, &entry.blockSeconds, &entry.verdictSeconds};
  for (int phase = 0; phase < 3; ++phase) {
    if (phaseStart_[phase] < 0) continue;
    double until = end;
    for (int next = phase + 1; next < 3; ++next) {
      if (phaseStart_[next] >= 0) {
        until = phaseStart_[next];
        break;
      }
    }
    *spans[phase] = until - phaseStart_[phase];
  }
  entry.blocksAcknowledged = acknowledged_;
  entry.verdict = verdict_;
  entry.outcome = FlashOutcomeName(outcome);
  entry.status = status;
}

void DescribeFirmware(const FirmwareImage& image, const std::vector<std::uint8_t>* fileBytes,
                      FlashRecordEntry& entry) {
  entry.target = TargetName(image.target);
  if (const FlashTargetInfo* info = FindFlashTargetInfo(image.target)) {
    entry.bytes = info->imageSize;
    entry.blocks = info->imageSize / 256;
    if (auto sent = Sha256Of(image.data.data(), info->imageSize))
      entry.sentSha256 = Sha256Hex(*sent);
  }
  if (fileBytes != nullptr) {
    if (auto whole = Sha256Of(fileBytes->data(), fileBytes->size())) {
      entry.fileSha256 = Sha256Hex(*whole);
    }
  }
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  // libstdc++'s file buffer throws on a read error (a folder, a failing disk or share): then
  // there are no bytes to fingerprint, and nothing escapes into the caller's handler.
  try {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    if (file.bad()) return std::nullopt;
    return bytes;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace loadwing
