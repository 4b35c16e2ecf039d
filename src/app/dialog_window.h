#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace loadwing {

// What the portable MainDialog asks of its window. The Win32 implementation maps each call to
// one or two messages or calls on the dialog's HWND; tests use a recording fake.
// Controls are addressed by their dialog ids (app/dialog_ids.h).
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  // Texts of controls (the status line 1001 and the firmware path 1002).
  virtual void SetItemText(int id, const std::string& text) = 0;
  virtual std::string GetItemText(int id) = 0;
  // EnableWindow on a control.
  virtual void EnableItem(int id, bool enable) = 0;
  // UpdateWindow on the dialog: paints it before returning.
  virtual void UpdateNow() = 0;
  // WM_SETICON with the application icon: the large icon, then the small one.
  virtual void SetWindowIcons() = 0;
  // BM_SETIMAGE on the connect button (1048) with icon resource iconId (133 or 134).
  virtual void SetConnectIcon(int iconId) = 0;

  // Progress bar 1043: PBM_SETRANGE with 0..max, PBM_SETPOS.
  virtual void SetProgressRange(std::uint16_t max) = 0;
  virtual void SetProgressPos(std::int32_t pos) = 0;

  // Connection list 1032 (a drop-down list, not sorted).
  virtual int ListAdd(const std::string& text) = 0;        // CB_ADDSTRING: index of the new entry
  virtual void ListDelete(int index) = 0;                  // CB_DELETESTRING
  virtual int ListCount() = 0;                             // CB_GETCOUNT
  virtual std::string ListText(int index) = 0;             // CB_GETLBTEXT ("" when out of range)
  virtual int ListSelection() = 0;                         // CB_GETCURSEL: -1 when none
  virtual void ListSelect(int index) = 0;                  // CB_SETCURSEL: raises no notification
  virtual int ListFindExact(const std::string& text) = 0;  // CB_FINDSTRINGEXACT, case ignored

  // SetTimer on the dialog: what SetTimer returned (0 when no timer was created); KillTimer.
  virtual std::uintptr_t StartTimer(std::uintptr_t id, unsigned milliseconds) = 0;
  virtual void KillTimer(std::uintptr_t id) = 0;

  // Dispatches the queued messages of the thread, then returns.
  virtual void PumpMessages() = 0;

  // The Open dialog for firmware files: the full path the user confirmed, nothing on cancel.
  virtual std::optional<std::string> ChooseFirmwareFile() = 0;

  // Ends the modal run with result (1 OK, 2 Cancel) once the running handler returns.
  virtual void EndDialog(int result) = 0;
};

}  // namespace loadwing
