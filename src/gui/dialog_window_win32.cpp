#include "gui/dialog_window_win32.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "app/dialog_ids.h"

namespace loadwing {

namespace {

// The Open dialog's buffer: a full path of at most 259 characters and its terminator.
constexpr DWORD kPathBufferSize = 260;
// One entry: shown as its first string, matching the patterns of its second.
constexpr char kFirmwareFilter[] = "Firmware files(*.hex;*.mot)\0*.hex;*.mot\0";

}  // namespace

Win32DialogWindow::Win32DialogWindow(HWND dialog, HINSTANCE instance)
    : dialog_(dialog),
      instance_(instance),
      appIcon_(LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP))) {}

LRESULT Win32DialogWindow::SendItem(int id, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendDlgItemMessageA(dialog_, id, message, wParam, lParam);
}

void Win32DialogWindow::SetItemText(int id, const std::string& text) {
  SetDlgItemTextA(dialog_, id, text.c_str());
}

std::string Win32DialogWindow::GetItemText(int id) {
  HWND item = GetDlgItem(dialog_, id);
  if (item == nullptr) return {};
  // The length may be an overestimate (it can count double-byte characters twice); the copy
  // reports what it really wrote.
  const int length = GetWindowTextLengthA(item);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  const UINT copied = GetDlgItemTextA(dialog_, id, buffer.data(), length + 1);
  return std::string(buffer.data(), copied);
}

void Win32DialogWindow::EnableItem(int id, bool enable) {
  EnableWindow(GetDlgItem(dialog_, id), enable ? TRUE : FALSE);
}

void Win32DialogWindow::UpdateNow() {
  UpdateWindow(dialog_);
}

void Win32DialogWindow::SetWindowIcons() {
  SendMessageA(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon_));
  SendMessageA(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon_));
}

void Win32DialogWindow::SetConnectIcon(int iconId) {
  HICON icon = LoadIconA(instance_, MAKEINTRESOURCEA(iconId));
  SendItem(IDC_CONNECT, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

void Win32DialogWindow::SetProgressRange(std::uint16_t max) {
  SendItem(IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, max));
}

void Win32DialogWindow::SetProgressPos(std::int32_t pos) {
  SendItem(IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

int Win32DialogWindow::ListAdd(const std::string& text) {
  return static_cast<int>(
      SendItem(IDC_PORTLIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

void Win32DialogWindow::ListDelete(int index) {
  SendItem(IDC_PORTLIST, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

int Win32DialogWindow::ListCount() {
  return static_cast<int>(SendItem(IDC_PORTLIST, CB_GETCOUNT, 0, 0));
}

std::string Win32DialogWindow::ListText(int index) {
  const LRESULT length = SendItem(IDC_PORTLIST, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length < 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT copied = SendItem(IDC_PORTLIST, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                  reinterpret_cast<LPARAM>(buffer.data()));
  if (copied == CB_ERR || copied < 0) return {};
  return std::string(buffer.data(), std::min<std::size_t>(static_cast<std::size_t>(copied),
                                                          static_cast<std::size_t>(length)));
}

int Win32DialogWindow::ListSelection() {
  return static_cast<int>(SendItem(IDC_PORTLIST, CB_GETCURSEL, 0, 0));
}

void Win32DialogWindow::ListSelect(int index) {
  SendItem(IDC_PORTLIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32DialogWindow::ListFindExact(const std::string& text) {
  // Start -1: the whole list, from the first entry.
  return static_cast<int>(SendItem(IDC_PORTLIST, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                   reinterpret_cast<LPARAM>(text.c_str())));
}

std::uintptr_t Win32DialogWindow::StartTimer(std::uintptr_t id, unsigned milliseconds) {
  return SetTimer(dialog_, id, milliseconds, nullptr);
}

void Win32DialogWindow::KillTimer(std::uintptr_t id) {
  ::KillTimer(dialog_, id);
}

void Win32DialogWindow::PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      // WM_QUIT belongs to the loop that runs the dialog: put it back for that loop to see.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (got == -1) return;
    if (!IsDialogMessageA(dialog_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

std::optional<std::string> Win32DialogWindow::ChooseFirmwareFile() {
  char path[kPathBufferSize] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = dialog_;
  ofn.lpstrFilter = kFirmwareFilter;
  ofn.lpstrFile = path;
  ofn.nMaxFile = kPathBufferSize;
  ofn.lpstrInitialDir = "c:\\";
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameA(&ofn)) return std::nullopt;
  return std::string(path);
}

void Win32DialogWindow::EndDialog(int result) {
  ::EndDialog(dialog_, result);
}

}  // namespace loadwing
