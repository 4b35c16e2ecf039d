#include "cli/advice.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

namespace loadwing::cli {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The record types of the lines of S-record text that start with 'S' and a digit.
struct SRecordTypes {
  bool data16or32 = false;  // S1 or S3
  bool data24 = false;      // S2
  bool end24 = false;       // S8
};

SRecordTypes ScanSRecords(const std::string& text) {
  SRecordTypes types;
  std::size_t line = 0;
  while (line < text.size()) {
    if (text[line] == 'S' && line + 1 < text.size()) {
      const char type = text[line + 1];
      types.data16or32 |= type == '1' || type == '3';
      types.data24 |= type == '2';
      types.end24 |= type == '8';
    }
    const std::size_t next = text.find('\n', line);
    if (next == std::string::npos) break;
    line = next + 1;
  }
  return types;
}

// What the text of a file that decoded but did not load says about it: the format it really
// is, or the records it holds.
std::string SRecordContentAdvice(const TransferPlan& report, const std::string& text, char first) {
  if (first == ':') {
    return "this looks like Intel HEX, but only S-record files may end in .mot: rename it to "
           ".hex";
  }
  if (first != 'S') {
    return "this is not S-record text (its lines should start with S0, S2 and end with S8): is "
           "it the right file?";
  }
  const SRecordTypes types = ScanSRecords(text);
  if (!types.data24 && types.data16or32) {
    return "it holds S1/S3 records, but only S2 records (24-bit addresses) carry data here: "
           "ask for the firmware as S2/S8 records, or convert it (srec_cat IN -o OUT.mot "
           "-address-length=3)";
  }
  switch (report.outcome.failure) {
    case LoadFailure::SRecordChecksum:
      return "a record's checksum does not match: the file is damaged; copy or download it again";
    case LoadFailure::SRecordsEnded:
      return "there is no S8 record at the end: the file is cut short; copy or download it again";
    case LoadFailure::NoTargetMarker:
      return "the image does not begin with a controller's name (Mod0 to Mod7, CAN, WebC): it is "
             "not firmware for this machine";
    case LoadFailure::OutOfRange:
      return "an S2 record lies below the first record's address or 128 KiB or more above it, "
             "or is too short to be a record: the file is not firmware for this machine";
    default:
      return "a record is malformed: the file is damaged; copy or download it again";
  }
}

std::string IntelHexContentAdvice(const TransferPlan& report, char first) {
  const std::string extension = Lower(FirmwareFileExtension(report.path));
  if (extension == "s19" || extension == "srec" || extension == "s28" || extension == "s37" ||
      first == 'S') {
    return "files not ending in .mot are read as Intel HEX; if this holds S-records, rename it "
           "to .mot";
  }
  if (first != ':') return "this is not Intel HEX text (its lines should start with ':')";
  switch (report.outcome.failure) {
    case LoadFailure::IntelHexEnded:
      return "there is no end record (:00000001FF): the file is cut short; copy or download it "
             "again";
    case LoadFailure::OutOfRange:
      return "the file uses addresses above 64 KiB (an extended address record): this "
             "controller takes 16-bit Intel HEX; ask for the firmware without them";
    default:
      return "a record is malformed or its checksum does not match: the file is damaged";
  }
}

}  // namespace

std::string LoadFailureAdvice(const TransferPlan& report) {
  const std::string& path = report.path;
  switch (report.outcome.failure) {
    case LoadFailure::None:
      return "";
    case LoadFailure::NotFound:
      return "no such file: " + path;
    case LoadFailure::AccessDenied:
      return path + " cannot be read: check its permissions";
    case LoadFailure::Folder:
      return path + " is a folder, not a firmware file";
    case LoadFailure::NotRegularFile:
      return path + " is not a regular file (a pipe or a device?): give the firmware file itself";
    case LoadFailure::CannotOpen:
      return path + " cannot be opened";
    case LoadFailure::SizeUnknown:
      return path + " has no size that can be read, or is 4 GiB or larger: is it the right file?";
    case LoadFailure::TooBig:
      return path + " is larger than any firmware file (" +
             std::to_string(report.intelHex ? kIntelHexFileLimit : kSRecordTextBufferSize) +
             " bytes at most): is it the right file?";
    case LoadFailure::ReadFailed:
      return path +
             " could not be read to its end (a failing disk or share, or it changed "
             "while being read): copy it again";
    case LoadFailure::SRecordsEnded:
    case LoadFailure::SRecordChecksum:
    case LoadFailure::OutOfRange:
    case LoadFailure::NoTargetMarker:
    case LoadFailure::IntelHexEnded:
    case LoadFailure::IntelHexChecksum:
      break;
  }
  const std::string text(report.fileBytes.begin(), report.fileBytes.end());
  const auto firstNonBlank =
      std::find_if(text.begin(), text.end(), [](unsigned char c) { return !std::isspace(c); });
  if (firstNonBlank == text.end()) return path + " is empty";
  const char first = *firstNonBlank;
  return report.intelHex ? IntelHexContentAdvice(report, first)
                         : SRecordContentAdvice(report, text, first);
}

namespace {

struct GroupEntry {
  std::string name;
  std::vector<std::string> members;
};

// The entry of gid in the text of a group file ("name:password:gid:member,member"); lines that
// do not parse are passed over, as the system's own readers do.
std::optional<GroupEntry> FindGroup(std::string_view file, std::uint32_t gid) {
  while (!file.empty()) {
    const std::size_t end = std::min(file.find('\n'), file.size());
    std::string_view line = file.substr(0, end);
    file.remove_prefix(std::min(end + 1, file.size()));
    std::string_view fields[4];
    std::size_t count = 0;
    while (count < 3) {
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos) break;
      fields[count++] = line.substr(0, colon);
      line.remove_prefix(colon + 1);
    }
    if (count != 3 || fields[0].empty()) continue;
    fields[3] = line;
    std::uint32_t id = 0;
    const auto [ptr, ec] =
        std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), id);
    if (ec != std::errc() || ptr != fields[2].data() + fields[2].size() || id != gid) continue;
    GroupEntry entry{std::string(fields[0]), {}};
    std::string_view members = fields[3];
    while (!members.empty()) {
      const std::size_t comma = std::min(members.find(','), members.size());
      if (comma != 0) entry.members.emplace_back(members.substr(0, comma));
      members.remove_prefix(std::min(comma + 1, members.size()));
    }
    return entry;
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> PermissionAdvice(const PortPermission& port) {
  const std::optional<GroupEntry> group = FindGroup(port.groupFile, port.groupId);
  const std::string groupName = group ? group->name : "number " + std::to_string(port.groupId);
  const std::string owner =
      port.ownerName.empty() ? "user number " + std::to_string(port.ownerUid) : port.ownerName;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", port.mode & 07777u);
  // Joining the group helps only where the group may read and write it, and root is no group
  // to give anyone.
  const bool groupOpens = (port.mode & 060u) == 060u;
  if (!groupOpens || port.groupId == 0 || !group) {
    return {"permission denied: " + port.path + " belongs to " + owner + " (group " + groupName +
                ", mode " + mode + "), and your user may not open it",
            "run as its owner (sudo), or give the device a group of its own with a udev rule "
            "(a MODE=\"0660\", GROUP=\"dialout\" rule for it)"};
  }
  const bool inSession = std::find(port.sessionGroups.begin(), port.sessionGroups.end(),
                                   port.groupId) != port.sessionGroups.end();
  const bool inGroup = port.userGid == port.groupId ||
                       std::find(group->members.begin(), group->members.end(), port.userName) !=
                           group->members.end();
  if (inSession) {
    return {"permission denied: " + port.path + " although this session is in the group " +
            groupName + ": check its permissions (ls -l " + port.path + ")"};
  }
  if (inGroup) {
    return {"permission denied: " + port.path + " belongs to the group " + groupName +
                "; you are in " + groupName + ", but this session started before: log in again",
            "or, for this shell only: newgrp " + groupName};
  }
  return {"permission denied: " + port.path + " belongs to the group " + groupName +
              ", which your user is not in",
          "give your user the group, then log in again: sudo usermod -aG " + groupName + " $USER"};
}

namespace {

std::string WhereItStopped(const FlashPosition& position) {
  switch (position.stage) {
    case FlashStage::Request:
      return "the controller is untouched: the machine never said ready, so nothing was erased "
             "or written";
    case FlashStage::Blocks: {
      const std::uint32_t k = position.blocksAcknowledged;
      return "the controller is erased and partly written: stopped at block " + std::to_string(k) +
             " of " + std::to_string(position.blockCount) +
             (k == 0 ? " (none went in)" : " (blocks 0 to " + std::to_string(k - 1) + " went in)") +
             "; flash it again before the machine is used";
    }
    case FlashStage::Verdict:
      return "all " + std::to_string(position.blockCount) +
             " blocks are written; only the machine's verdict is missing: flash it again to be "
             "sure";
    case FlashStage::Done:
      break;
  }
  return "";
}

}  // namespace

std::vector<std::string> TransferAdvice(FlashOutcome outcome, const FlashPosition& position,
                                        const TransferPlan& report) {
  std::vector<std::string> lines;
  const std::string request = report.info ? std::string(report.info->requestCode, 3) : "";
  switch (outcome) {
    case FlashOutcome::Completed:
    case FlashOutcome::NotStarted:
      return lines;
    case FlashOutcome::Cancelled:
      lines.push_back("interrupted; " + WhereItStopped(position));
      return lines;
    case FlashOutcome::NoAnswer:
      lines.push_back(WhereItStopped(position));
      lines.push_back("the machine never answered the request \"" + request + "\" (" +
                      TargetDescription(report.outcome.target) + "). Check:");
      lines.push_back("  - is " + report.path + " the firmware for this controller?");
      lines.push_back("  - the cable: plugged in at both ends, on the port given?");
      lines.push_back("  - the machine: switched on and in update mode?");
      return lines;
    case FlashOutcome::UnexpectedAnswer:
      lines.push_back(WhereItStopped(position));
      lines.push_back("the machine did not answer \"" +
                      std::string(report.info ? report.info->readyAnswer : "", 6) + "\" to \"" +
                      request + "\": is " + report.path + " the firmware for this controller?");
      return lines;
    case FlashOutcome::EraseError:
      lines.push_back(
          "the machine could not erase the controller: flash it again; if the error comes "
          "again, have the controller checked");
      return lines;
    case FlashOutcome::WriteError:
      lines.push_back(WhereItStopped(position));
      lines.push_back("the serial port refused to send: is the adapter still plugged in?");
      return lines;
    case FlashOutcome::NoAnswerWhileFlashing:
    case FlashOutcome::ErrorWhileFlashing:
    case FlashOutcome::NoAnswerAfterFlashing:
      lines.push_back(WhereItStopped(position));
      return lines;
    case FlashOutcome::CrcError:
      lines.push_back(
          "all blocks were written, but the machine's check of them failed: the "
          "data arrived damaged; flash it again");
      return lines;
    case FlashOutcome::NoSuccess:
      lines.push_back(
          "all blocks were written, but the machine did not report success: flash "
          "it again");
      return lines;
  }
  return lines;
}

}  // namespace loadwing::cli
