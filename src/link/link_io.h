#pragma once
#include <cstdint>

#include "core/cancellation.h"
#include "core/clock.h"
#include "core/status_view.h"
#include "link/connection.h"
#include "link/serial_port.h"
#include "link/usb_link.h"

namespace loadwing {

// Moves bytes over whichever link the connection id names at the moment of each call; the
// transfer reaches the link only through these four operations.
class LinkIo {
 public:
  static constexpr std::uint32_t kSerialWriteChunk = 128;
  // A port that keeps accepting 0 bytes is given up after this many empty writes in a row.
  static constexpr int kMaxEmptyWrites = 64;

  // cancel, when given, ends every wait as soon as it is set.
  LinkIo(const ConnectionId& connectionId, SerialPort& serial, UsbLink& usb, StatusView& view,
         Clock& clock, const CancellationToken* cancel = nullptr)
      : connectionId_(connectionId),
        serial_(serial),
        usb_(usb),
        view_(view),
        clock_(clock),
        cancel_(cancel) {}

  // Throws away whatever is already waiting on the link.
  void DrainInput();
  // Sends n bytes. True when they went out; a failure is already reported.
  [[nodiscard]] bool WriteBytes(const std::uint8_t* data, std::uint32_t n);
  // Collects up to n bytes within limit whole seconds (the wait goes on while elapsed <= limit),
  // optionally showing the seconds waited on the progress bar. A limit of 0 or less is refused
  // (nothing is read). Returns the count; with none, buffer[0] is set to 0.
  [[nodiscard]] std::int32_t ReadBytes(std::uint8_t* buffer, std::uint32_t n, std::int32_t limit,
                                       bool showProgress);
  // One read of what the link holds (the serial port: one byte within its time limits; the
  // cable: what has arrived, without waiting). The count.
  [[nodiscard]] std::uint32_t ReadOnce(std::uint8_t* buffer, std::uint32_t remaining);
  // Lets the window handle the messages that piled up.
  void PumpMessages() { view_.PumpMessages(); }
  // True once the work was asked to stop; every wait has ended early since.
  bool Cancelled() const { return cancel_ != nullptr && cancel_->Cancelled(); }

 private:
  const ConnectionId& connectionId_;
  SerialPort& serial_;
  UsbLink& usb_;
  StatusView& view_;
  Clock& clock_;
  const CancellationToken* cancel_;
};

}  // namespace loadwing
