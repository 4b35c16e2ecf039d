#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/firmware_report.h"
#include "flash/flash_transfer.h"

namespace loadwing::cli {

// What was found in a firmware file that did not load, and what to do about it, in one line
// (the status text stays as the loader set it); empty when nothing more can be said.
[[nodiscard]] std::string LoadFailureAdvice(const TransferPlan& report);

// What is known about a serial device that refused to open for lack of permission.
struct PortPermission {
  std::string path;
  std::uint32_t ownerUid = 0;
  std::string ownerName;  // empty when unknown
  std::uint32_t groupId = 0;
  unsigned mode = 0;  // the permission bits (0660)
  std::string userName;
  std::uint32_t userGid = 0;                 // the user's primary group, from the user database
  std::vector<std::uint32_t> sessionGroups;  // the groups this process runs with
  std::string groupFile;                     // the text of /etc/group (bounded; may be empty)
};

// Why the device cannot be opened and what helps, one line per entry: a group is named only
// where joining it would help (it may read and write the device, and it is not root); a user who
// is in it but whose session started before is told to log in again; otherwise the owner is
// named, with sudo or a udev rule as the way.
[[nodiscard]] std::vector<std::string> PermissionAdvice(const PortPermission& port);

// What a transfer that ended with outcome at position left in the controller, and what to do
// next: one line per entry, the first saying where it stopped; none for a completed transfer.
[[nodiscard]] std::vector<std::string> TransferAdvice(FlashOutcome outcome,
                                                      const FlashPosition& position,
                                                      const TransferPlan& report);

}  // namespace loadwing::cli
