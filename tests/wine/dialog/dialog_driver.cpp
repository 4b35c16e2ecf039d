// Drives a running loadwing.exe from a second Win32 process in the same Wine prefix, one command
// a line on standard input, one answer line ("OK ..." or "FAIL ...") on standard output. The
// test script decides what to do; this program only does what a user would and reports what the
// dialog shows. Every wait has a deadline.
//
//   find MS              wait for the dialog to be shown
//   status               the status line
//   wait-status MS TEXT  wait until the status line reads TEXT
//   list                 "SELECTION|ENTRY|ENTRY..." of the connection list
//   select TEXT          choose the list entry TEXT, as a user does (the list notifies the dialog)
//   icon                 the icon handle the connect button shows, as a number
//   click ID             click a button
//   enabled              "ID=0|1" for the five controls a transfer switches
//   pos                  the progress bar's position
//   load PATH            "select firmware", then PATH confirmed in the Open dialog
//   transfer MS          "start transfer", then every status text shown until it ends
//   wait-gone MS         wait until the dialog window is gone
//   quit
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "wine_driver.h"

namespace {

using loadwing::wine_driver::FindFileNameEdit;
using loadwing::wine_driver::FindOpenDialog;
using loadwing::wine_driver::kCaption;
using loadwing::wine_driver::WaitFor;

constexpr int kStatus = 1001;
constexpr int kSelect = 1025;
constexpr int kClose = 1026;
constexpr int kStart = 1027;
constexpr int kPortList = 1032;
constexpr int kProgress = 1043;
constexpr int kConnect = 1048;
constexpr int kSwitched[] = {kSelect, kStart, kClose, kConnect, kPortList};
constexpr UINT kSendLimitMs = 5000;

// The texts a transfer shows while it runs; any other text after the start is its result.
constexpr const char* kProgressTexts[] = {" flash: query system...", " flash: start...",
                                          " flash: wait for success message..."};

HWND dialog = nullptr;

HWND Item(int id) {
  return GetDlgItem(dialog, id);
}

// GetWindowTextA on another process's window reads the text the window manager keeps and sends
// no message: it answers while the dialog is busy in a handler, and costs little enough to poll.
std::string Text(HWND hwnd) {
  char buffer[512] = {};
  GetWindowTextA(hwnd, buffer, sizeof buffer);
  return buffer;
}

std::string Status() {
  return Text(Item(kStatus));
}

// Waits up to kSendLimitMs for the dialog to answer. Not SMTO_ABORTIFHUNG: after a phase that
// pumps no messages for more than 5 s (a silent machine's query) the window counts as hung
// until its next message, and the handler's last step (the record, flushed to the disk) can
// still be running when the question comes.
bool Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result) {
  return SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_NORMAL, kSendLimitMs, &result) !=
         0;
}

bool AllEnabled() {
  for (int id : kSwitched) {
    if (!IsWindowEnabled(Item(id))) return false;
  }
  return true;
}

bool AnyEnabled() {
  for (int id : kSwitched) {
    if (IsWindowEnabled(Item(id))) return true;
  }
  return false;
}

bool IsProgressText(const std::string& text) {
  for (const char* t : kProgressTexts) {
    if (text == t) return true;
  }
  return false;
}

std::string Find(DWORD ms) {
  const bool shown = WaitFor(
      [] {
        dialog = FindWindowA(nullptr, kCaption);
        return dialog != nullptr && IsWindowVisible(dialog) && Item(kStatus) != nullptr;
      },
      ms);
  return shown ? "OK" : "FAIL the dialog did not appear";
}

std::string WaitStatus(DWORD ms, const std::string& text) {
  const ULONGLONG start = GetTickCount64();
  if (WaitFor([&] { return Status() == text; }, ms, 5)) {
    return "OK " + std::to_string(GetTickCount64() - start);
  }
  return "FAIL status \"" + Status() + "\"";
}

bool ListEntries(std::vector<std::string>& entries, int& selection) {
  HWND list = Item(kPortList);
  DWORD_PTR count = 0;
  DWORD_PTR selected = 0;
  if (!Send(list, CB_GETCOUNT, 0, 0, count) || !Send(list, CB_GETCURSEL, 0, 0, selected)) {
    return false;
  }
  selection = static_cast<int>(static_cast<LRESULT>(selected));
  entries.clear();
  // Wide: across processes Wine hands an ANSI caller the list's text in UTF-16 anyway.
  for (WPARAM i = 0; i < count; ++i) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(list, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kSendLimitMs,
                             &length)) {
      return false;
    }
    std::vector<wchar_t> buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kSendLimitMs, &copied)) {
      return false;
    }
    std::string entry;
    for (const wchar_t* c = buffer.data(); *c != L'\0'; ++c) {
      entry += *c < 0x80 ? static_cast<char>(*c) : '?';
    }
    entries.push_back(entry);
  }
  return true;
}

std::string List() {
  std::vector<std::string> entries;
  int selection = -1;
  if (!ListEntries(entries, selection)) return "FAIL the list did not answer";
  std::string answer = "OK " + std::to_string(selection);
  for (const std::string& e : entries) answer += "|" + e;
  return answer;
}

std::string Select(const std::string& text) {
  std::vector<std::string> entries;
  int selection = -1;
  if (!ListEntries(entries, selection)) return "FAIL the list did not answer";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] != text) continue;
    HWND list = Item(kPortList);
    DWORD_PTR ignored = 0;
    if (!Send(list, CB_SETCURSEL, i, 0, ignored)) return "FAIL CB_SETCURSEL";
    // Posted: the handler opens a port and may take a while; the script waits for its text.
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kPortList, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    return "OK " + std::to_string(i);
  }
  return "FAIL no entry \"" + text + "\"";
}

std::string Icon() {
  DWORD_PTR icon = 0;
  if (!Send(Item(kConnect), BM_GETIMAGE, IMAGE_ICON, 0, icon)) return "FAIL BM_GETIMAGE";
  char text[32];
  std::snprintf(text, sizeof text, "OK 0x%llx", static_cast<unsigned long long>(icon));
  return text;
}

std::string Enabled() {
  std::string answer = "OK";
  for (int id : kSwitched) {
    answer += " " + std::to_string(id) + "=" + (IsWindowEnabled(Item(id)) ? "1" : "0");
  }
  return answer;
}

std::string Pos() {
  DWORD_PTR pos = 0;
  if (!Send(Item(kProgress), PBM_GETPOS, 0, 0, pos)) return "FAIL PBM_GETPOS";
  return "OK " + std::to_string(static_cast<LRESULT>(pos));
}

std::string Load(const std::string& path) {
  PostMessageA(Item(kSelect), BM_CLICK, 0, 0);
  HWND open = FindOpenDialog(dialog);
  if (open == nullptr) return "FAIL no Open dialog";
  HWND edit = FindFileNameEdit(open);
  if (edit == nullptr) return "FAIL no file-name field in the Open dialog";
  DWORD_PTR ignored = 0;
  Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), ignored);
  PostMessageA(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(open, IDOK)));
  if (!WaitFor([&] { return !IsWindow(open); }, 20000)) return "FAIL the Open dialog stays";
  return "OK";
}

// Clicks "start transfer" and records each distinct status text in the order shown, until the
// transfer has ended: the controls are enabled again and the status is no longer a progress
// text, after the controls were seen disabled or the status changed. Polls without pause, so
// that the short-lived texts are seen too.
std::string Transfer(DWORD ms) {
  if (!IsWindowEnabled(Item(kStart))) return "FAIL \"start transfer\" is disabled";
  const std::string before = Status();
  std::vector<std::string> seen;
  bool disabledSeen = false;
  bool changed = false;
  PostMessageA(Item(kStart), BM_CLICK, 0, 0);
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    const std::string text = Status();
    if (text != before) changed = true;
    if (changed && (seen.empty() || seen.back() != text)) seen.push_back(text);
    if (!AnyEnabled()) disabledSeen = true;
    // (Unchanged but seen disabled: it ended with the text it began with.)
    if ((changed || disabledSeen) && !IsProgressText(text) && AllEnabled()) break;
    if (GetTickCount64() - start > ms) {
      std::string answer = "FAIL still running after " + std::to_string(ms) + " ms";
      for (const std::string& s : seen) answer += "|" + s;
      return answer;
    }
    SwitchToThread();
  }
  std::string answer = "OK " + std::to_string(GetTickCount64() - start);
  answer += disabledSeen ? " disabled-seen" : " disabled-unseen";
  for (const std::string& s : seen) answer += "|" + s;
  return answer;
}

std::string WaitGone(DWORD ms) {
  return WaitFor([] { return !IsWindow(dialog); }, ms) ? "OK" : "FAIL the dialog is still there";
}

std::string Run(const std::string& line) {
  const std::size_t space = line.find(' ');
  const std::string command = line.substr(0, space);
  const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
  const DWORD ms = static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 10));
  if (command == "find") return Find(ms);
  if (dialog == nullptr || !IsWindow(dialog)) return "FAIL no dialog";
  if (command == "status") return "OK " + Status();
  if (command == "wait-status") {
    const std::size_t gap = rest.find(' ');
    return gap == std::string::npos ? "FAIL usage" : WaitStatus(ms, rest.substr(gap + 1));
  }
  if (command == "list") return List();
  if (command == "select") return Select(rest);
  if (command == "icon") return Icon();
  if (command == "click") {
    PostMessageA(Item(std::atoi(rest.c_str())), BM_CLICK, 0, 0);
    return "OK";
  }
  if (command == "enabled") return Enabled();
  if (command == "pos") return Pos();
  if (command == "load") return Load(rest);
  if (command == "transfer") return Transfer(ms);
  if (command == "wait-gone") return WaitGone(ms);
  return "FAIL unknown command " + command;
}

}  // namespace

int main() {
  std::printf("READY\n");
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "quit") break;
    if (line.empty()) continue;
    std::printf("%s\n", Run(line).c_str());
    std::fflush(stdout);
  }
  return 0;
}
