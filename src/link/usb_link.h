#pragma once
#include <cstdint>
#include <string>

#include "link/d2xx.h"

namespace loadwing {

inline constexpr const char* kUsbCableDescription = "USB <-> ORV serial Device";

// The cable: the only code that calls D2XX.
class UsbLink {
 public:
  explicit UsbLink(D2xx& d2xx) : d2xx_(d2xx) {}
  ~UsbLink();
  UsbLink(const UsbLink&) = delete;
  UsbLink& operator=(const UsbLink&) = delete;

  // Index of the first listed device whose description equals the text, or -1.
  [[nodiscard]] int FindByDescription(const std::string& description);
  // True once a complete listing has succeeded in this process.
  [[nodiscard]] bool EnsureListed();
  [[nodiscard]] bool OpenByIndex(int index, std::uint32_t baudRate, std::uint8_t parity,
                                 std::uint8_t stopBits, std::uint8_t wordLength);
  [[nodiscard]] bool OpenByDescription(const std::string& description, std::uint32_t baudRate,
                                       std::uint8_t parity, std::uint8_t stopBits,
                                       std::uint8_t wordLength);
  bool Close();
  // One FT_Write of the whole buffer; the written count.
  [[nodiscard]] std::uint32_t Write(const std::uint8_t* buffer, std::uint32_t length);
  // Reads at most the bytes already received; never waits.
  [[nodiscard]] std::uint32_t Read(std::uint8_t* buffer, std::uint32_t maxLength);

  bool isOpen() const { return isOpen_; }

  // The class-wide "a listing has succeeded" flag is process state; tests start afresh.
  static void ResetListedForTesting() { listed_ = false; }

 private:
  D2xx& d2xx_;
  FtHandle handle_ = nullptr;
  bool isOpen_ = false;
  static inline bool listed_ = false;
};

}  // namespace loadwing
