#include "link/usb_link.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace loadwing {

namespace {

// More devices than a USB tree can hold: a count above this is the driver's nonsense, and
// buffers for it would only exhaust memory.
constexpr std::uint32_t kMaxListedDevices = 128;

using DescriptionBuffer = std::array<char, kFtDescriptionSize>;

// The count query; false when it fails or the count cannot be a real number of devices.
bool CountDevices(D2xx& d2xx, std::uint32_t& count) {
  count = 0;
  if (d2xx.ListDevices(&count, nullptr, kFtListNumberOnly) != kFtOk) return false;
  return count <= kMaxListedDevices;
}

// The description listing into one 64-byte buffer per counted device. The buffers are zeroed
// first, so a device the driver did not fill reads as an empty description.
bool ListDescriptions(D2xx& d2xx, std::uint32_t count, std::vector<DescriptionBuffer>& buffers) {
  buffers.assign(count, DescriptionBuffer{});
  std::vector<char*> pointers;
  pointers.reserve(count + 1);
  for (DescriptionBuffer& buffer : buffers) pointers.push_back(buffer.data());
  pointers.push_back(nullptr);
  std::uint32_t listedCount = count;
  return d2xx.ListDevices(pointers.data(), &listedCount, kFtListAll | kFtOpenByDescription) ==
         kFtOk;
}

// Whole strings, byte for byte; a buffer the driver left unterminated ends at its 64th byte.
bool DescriptionEquals(const DescriptionBuffer& buffer, const std::string& description) {
  const void* end = std::memchr(buffer.data(), '\0', buffer.size());
  const std::size_t length =
      end ? static_cast<std::size_t>(static_cast<const char*>(end) - buffer.data()) : buffer.size();
  return length == description.size() &&
         std::memcmp(buffer.data(), description.data(), length) == 0;
}

}  // namespace

UsbLink::~UsbLink() {
  Close();
}

int UsbLink::FindByDescription(const std::string& description) {
  std::uint32_t count = 0;
  if (!CountDevices(d2xx_, count)) return -1;
  std::vector<DescriptionBuffer> buffers;
  if (!ListDescriptions(d2xx_, count, buffers)) return -1;
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    if (DescriptionEquals(buffers[i], description)) return static_cast<int>(i);
  }
  listed_ = true;
  return -1;
}

bool UsbLink::EnsureListed() {
  if (listed_) return true;
  std::uint32_t count = 0;
  // A count that reads as negative, or an absurd one, is a failed listing.
  if (!CountDevices(d2xx_, count)) return false;
  std::vector<DescriptionBuffer> buffers;
  if (!ListDescriptions(d2xx_, count, buffers)) return false;
  listed_ = true;
  return true;
}

bool UsbLink::OpenByIndex(int index, std::uint32_t baudRate, std::uint8_t parity,
                          std::uint8_t stopBits, std::uint8_t wordLength) {
  if (!EnsureListed()) return false;
  if (isOpen_) {
    // A device the driver refuses to close stays open, and so does this link.
    if (d2xx_.Close(handle_) != kFtOk) return false;
    isOpen_ = false;
  }
  FtHandle opened = nullptr;
  if (d2xx_.Open(index, &opened) != kFtOk) return false;
  handle_ = opened;
  if (d2xx_.SetBaudRate(handle_, baudRate) != kFtOk ||
      d2xx_.SetDataCharacteristics(handle_, wordLength, stopBits, parity) != kFtOk) {
    // A failed open leaves no device open; a close that fails too has nothing more to undo.
    static_cast<void>(d2xx_.Close(handle_));
    return false;
  }
  isOpen_ = true;
  return true;
}

bool UsbLink::OpenByDescription(const std::string& description, std::uint32_t baudRate,
                                std::uint8_t parity, std::uint8_t stopBits,
                                std::uint8_t wordLength) {
  const int index = FindByDescription(description);
  if (index < 0) return false;
  return OpenByIndex(index, baudRate, parity, stopBits, wordLength);
}

bool UsbLink::Close() {
  if (!isOpen_) return true;
  if (d2xx_.Close(handle_) != kFtOk) return false;
  isOpen_ = false;
  return true;
}

std::uint32_t UsbLink::Write(const std::uint8_t* buffer, std::uint32_t length) {
  // A closed handle must never reach the driver: it may already be freed.
  if (!isOpen_) return 0;
  std::uint32_t written = 0;
  // A failed write shows in the count; the status adds nothing the caller acts on.
  static_cast<void>(d2xx_.Write(handle_, const_cast<std::uint8_t*>(buffer), length, &written));
  return std::min(written, length);
}

std::uint32_t UsbLink::Read(std::uint8_t* buffer, std::uint32_t maxLength) {
  if (!isOpen_) return 0;
  std::uint32_t queued = 0;
  // Its status tells nothing the count does not.
  static_cast<void>(d2xx_.GetQueueStatus(handle_, &queued));
  if (queued == 0) return 0;
  const std::uint32_t wanted = std::min(maxLength, queued);
  std::uint32_t got = 0;
  static_cast<void>(d2xx_.Read(handle_, buffer, wanted, &got));
  // Never report more than fits where the caller asked the bytes to go.
  return std::min(got, wanted);
}

}  // namespace loadwing
