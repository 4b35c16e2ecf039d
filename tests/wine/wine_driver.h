#pragma once
// What the programs that drive loadwing.exe from a second Win32 process share: finding the
// dialog and its Open dialog, and polling with a deadline, so that a broken dialog fails a test
// instead of hanging it.
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>

namespace loadwing::wine_driver {

inline constexpr const char* kCaption = "ORV Loadwing V1.12";
inline constexpr int kOpenFileNameCombo = 0x47C;  // cmb13 of the Open dialog
inline constexpr DWORD kDefaultWaitMs = 20000;

// Polls every stepMs until done() holds or timeoutMs have passed; true when it held.
inline bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = kDefaultWaitMs,
                    DWORD stepMs = 20) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > end) return false;
    Sleep(stepMs);
  }
  return true;
}

inline std::string ClassOf(HWND hwnd) {
  char name[128] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

// Waits for a visible Open dialog that owner owns; null when none comes.
inline HWND FindOpenDialog(HWND owner, DWORD timeoutMs = kDefaultWaitMs) {
  struct Search {
    HWND owner;
    HWND found;
  } search{owner, nullptr};
  WaitFor(
      [&] {
        search.found = nullptr;
        EnumWindows(
            [](HWND hwnd, LPARAM param) CALLBACK -> BOOL {
              auto* s = reinterpret_cast<Search*>(param);
              if (GetWindow(hwnd, GW_OWNER) == s->owner && IsWindowVisible(hwnd) &&
                  ClassOf(hwnd) == "#32770") {
                s->found = hwnd;
                return FALSE;
              }
              return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

// The Open dialog's file-name field: an Edit inside the ComboBox inside cmb13.
inline HWND FindFileNameEdit(HWND openDialog) {
  HWND found = nullptr;
  EnumChildWindows(
      openDialog,
      [](HWND hwnd, LPARAM param) CALLBACK -> BOOL {
        if (lstrcmpiA(ClassOf(hwnd).c_str(), "Edit") != 0) return TRUE;
        for (HWND up = GetParent(hwnd); up != nullptr; up = GetParent(up)) {
          if (GetDlgCtrlID(up) == kOpenFileNameCombo) {
            *reinterpret_cast<HWND*>(param) = hwnd;
            return FALSE;
          }
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace loadwing::wine_driver
