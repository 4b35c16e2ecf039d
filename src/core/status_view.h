#pragma once
#include <cstdint>
#include <string>

namespace loadwing {

// Errors in the core: the core's own operations do not fail (a clock, a cancellation token);
// those that can return a std::optional or a bool, marked [[nodiscard]]. Nothing throws for an
// expected failure, and nothing prints: what a person should read goes through a StatusView
// or a message sink the front end supplies. Each layer above reports failure as an enum or a
// small result type, written down at the top of its main header; words are made from those at
// the edge and never parsed back.

// The narrow view through which the loader, the link byte I/O and the transfer report: the
// status line, the progress bar and the busy state. The dialog implements it on its controls;
// the command line implements it on the terminal. The core never prints.
class StatusView {
 public:
  virtual ~StatusView() = default;

  // Sets the status text without showing it ("set").
  virtual void SetStatusText(std::string text) = 0;
  virtual const std::string& StatusText() const = 0;
  // Puts the status text (and the firmware path) on screen ("show").
  virtual void RefreshFields() = 0;
  // Repaints at once, even while the caller goes on working without handling messages.
  virtual void UpdateNow() = 0;
  // Progress bar: range 0..max (only the low 16 bits of max count), and position.
  virtual void SetProgressRange(std::uint32_t max) = 0;
  virtual void SetProgressPos(std::int32_t pos) = 0;
  // Enables or disables the five interactive controls (the busy state).
  virtual void EnableControls(bool enable) = 0;
  // Lets queued window messages run (only the transfer's one dispatch point calls it).
  virtual void PumpMessages() = 0;

  // "show now": show, then repaint at once.
  void ShowStatusNow() {
    RefreshFields();
    UpdateNow();
  }
  // One blank in front of the text, then show now.
  void SetStatus(const std::string& text) {
    SetStatusText(" " + text);
    ShowStatusNow();
  }
};

}  // namespace loadwing
