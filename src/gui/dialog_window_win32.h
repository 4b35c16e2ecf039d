#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "app/dialog_window.h"

namespace loadwing {

// DialogWindow over the HWND of the running dialog: each call is one or two messages or calls
// on the dialog or one of its controls. It also holds the application icon, which the dialog
// procedure needs for painting while minimised and for the drag icon.
class Win32DialogWindow final : public DialogWindow {
 public:
  Win32DialogWindow(HWND dialog, HINSTANCE instance);

  void SetItemText(int id, const std::string& text) override;
  std::string GetItemText(int id) override;
  void EnableItem(int id, bool enable) override;
  void UpdateNow() override;
  void SetWindowIcons() override;
  void SetConnectIcon(int iconId) override;

  void SetProgressRange(std::uint16_t max) override;
  void SetProgressPos(std::int32_t pos) override;

  int ListAdd(const std::string& text) override;
  void ListDelete(int index) override;
  int ListCount() override;
  std::string ListText(int index) override;
  int ListSelection() override;
  void ListSelect(int index) override;
  int ListFindExact(const std::string& text) override;

  std::uintptr_t StartTimer(std::uintptr_t id, unsigned milliseconds) override;
  void KillTimer(std::uintptr_t id) override;

  void PumpMessages() override;
  std::optional<std::string> ChooseFirmwareFile() override;
  void EndDialog(int result) override;

  HWND Handle() const { return dialog_; }
  // Icon resource 128; shared by the system (LoadIcon), so it is never destroyed.
  HICON AppIcon() const { return appIcon_; }

 private:
  LRESULT SendItem(int id, UINT message, WPARAM wParam, LPARAM lParam);

  HWND dialog_;
  HINSTANCE instance_;
  HICON appIcon_;
};

}  // namespace loadwing
