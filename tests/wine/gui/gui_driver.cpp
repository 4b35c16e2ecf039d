// Drives a running loadwing.exe from a second Win32 process in the same Wine prefix, the way a
// user would, and checks what the dialog shows. Every wait has a deadline, so a broken dialog
// fails the test instead of hanging it.
//
//   gui_driver template EXE                            template 102 and the resources in EXE
//   gui_driver main MOT HEX BAD SHOT_READY SHOT_DONE   layout, loads, keys, minimise, Escape
//   gui_driver nested MOT                              Cancel while the Open dialog is up
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "wine_driver.h"

namespace {

using loadwing::wine_driver::ClassOf;
using loadwing::wine_driver::FindFileNameEdit;
using loadwing::wine_driver::FindOpenDialog;
using loadwing::wine_driver::kCaption;
using loadwing::wine_driver::WaitFor;

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

// Cross-process text of a window; the dialog may be busy, so the send is bounded.
std::string Text(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return "<no answer>";
  }
  std::vector<char> buffer(length + 2, '\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  return std::string(buffer.data());
}

struct Control {
  int id;
  const char* className;
  const char* text;  // nullptr: not compared (the status line changes)
  int x, y, w, h;    // dialog units
  DWORD style;       // every style the template gives, WS_CHILD | WS_VISIBLE included
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// Template 102 in its order.
const Control kLayout[] = {
    {1025, "Button", "select firmware", 6, 84, 132, 18, kChild | WS_TABSTOP | BS_MULTILINE},
    {-1, "Button", "Connection", 211, 47, 107, 54, kChild | BS_GROUPBOX},
    {1026, "Button", "Close", 246, 135, 72, 15, kChild | WS_TABSTOP | BS_MULTILINE},
    {-1, "Static", nullptr, 246, 6, 71, 38, kChild | SS_BITMAP},
    {1043, "msctls_progress32", "", 216, 156, 108, 13, kChild | WS_BORDER},
    {1002, "Edit", "", 6, 114, 312, 12,
     kChild | WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL},
    {-1, "Static", "1) select COM port or USB", 12, 12, 172, 18, kChild | WS_GROUP | SS_LEFT},
    {-1, "Static", "2) select firmware", 12, 30, 180, 18, kChild | WS_GROUP | SS_LEFT},
    {-1, "Static", "3) start transfer", 12, 48, 158, 18, kChild | WS_GROUP | SS_LEFT},
    {1027, "Button", "start transfer", 6, 132, 132, 18,
     kChild | WS_DISABLED | WS_TABSTOP | BS_MULTILINE},
    {1001, "Static", nullptr, 0, 156, 216, 12, kChild | WS_GROUP | SS_LEFT},
    {1032, "ComboBox", nullptr, 215, 60, 98, 60,
     kChild | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST},
    {1048, "Button", "Button1", 228, 79, 49, 17, kChild | WS_TABSTOP | BS_ICON},
};

bool IsBitmapStatic(const Control& c) {
  return std::strcmp(c.className, "Static") == 0 && (c.style & SS_TYPEMASK) == SS_BITMAP;
}

// Styles the control classes set on themselves at run time, not from the template.
constexpr DWORD kRuntimeStyles = WS_CLIPSIBLINGS;

HWND FindDialog() {
  HWND dialog = nullptr;
  WaitFor([&] {
    dialog = FindWindowA(nullptr, kCaption);
    return dialog != nullptr && IsWindowVisible(dialog);
  });
  if (dialog == nullptr) {
    // Tell what there is instead, so a failure in CI can be understood.
    EnumWindows(
        [](HWND hwnd, LPARAM) CALLBACK -> BOOL {
          char text[128] = {};
          GetWindowTextA(hwnd, text, sizeof(text));
          std::printf("  top-level window %p \"%s\" class %s%s\n", static_cast<void*>(hwnd), text,
                      ClassOf(hwnd).c_str(), IsWindowVisible(hwnd) ? " visible" : "");
          return TRUE;
        },
        0);
  }
  return dialog;
}

std::string Status(HWND dialog) {
  return Text(GetDlgItem(dialog, 1001));
}

void CheckLayout(HWND dialog) {
  Check(ClassOf(dialog) == "#32770", "the dialog is a dialog-class window");
  const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
  const DWORD wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                       DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS;
  Check((style & wanted) == wanted, "dialog styles of the template");
  Check((style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) == 0, "no maximise box, no sizing frame");
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE));
  Check((exStyle & WS_EX_APPWINDOW) != 0, "WS_EX_APPWINDOW");
  // (The window icons are checked by the script on the X window: under Wine 8 a WM_GETICON or
  // WM_QUERYDRAGICON sent from another process answers 0.)

  RECT client;
  GetClientRect(dialog, &client);
  // Pixels per dialog unit, from the client area the template's 324 x 169 units became.
  const double sx = client.right / 324.0;
  const double sy = client.bottom / 169.0;
  Check(sx > 1.0 && sy > 1.0, "client area " + std::to_string(client.right) + "x" +
                                  std::to_string(client.bottom) + " px");

  GUITHREADINFO gui{};
  gui.cbSize = sizeof(gui);
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui);
  const HWND focus = gui.hwndFocus;
  Check(focus == GetDlgItem(dialog, 1025), "the focus starts on \"select firmware\"");

  HWND child = GetWindow(dialog, GW_CHILD);
  for (const Control& c : kLayout) {
    const std::string name = "control " + std::to_string(c.id) + " (" + c.className + ")";
    if (child == nullptr) {
      Check(false, name + " exists");
      continue;
    }
    Check(GetDlgCtrlID(child) == c.id || (c.id == -1 && GetDlgCtrlID(child) == 0xFFFF),
          name + " id, found " + std::to_string(GetDlgCtrlID(child)));
    Check(lstrcmpiA(ClassOf(child).c_str(), c.className) == 0,
          name + " class, found " + ClassOf(child));
    if (c.text != nullptr) {
      Check(Text(child) == c.text, name + " text \"" + Text(child) + "\"");
    }
    DWORD got = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)) & ~kRuntimeStyles;
    if (child == focus && (got & 0x0F) == BS_DEFPUSHBUTTON) got &= ~DWORD{BS_DEFPUSHBUTTON};
    // Classes that change the template's styles of their own windows (the template itself is
    // checked exactly by the "template" mode): a combo box hands its scroll bar to its list,
    // an edit field and a progress bar draw their border as an edge instead.
    if (c.id == 1032) got |= WS_VSCROLL;
    if (c.id == 1043) got |= WS_BORDER;
    if (c.id == 1002 && (GetWindowLongA(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0) {
      got |= WS_BORDER;
    }
    char styles[64];
    std::snprintf(styles, sizeof(styles), " style 0x%08lx, want 0x%08lx",
                  static_cast<unsigned long>(got), static_cast<unsigned long>(c.style));
    Check(got == c.style, name + styles);

    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    auto Within2 = [](double want, LONG got_px) {
      return got_px >= want - 2 && got_px <= want + 2;
    };
    bool placed = Within2(c.x * sx, r.left) && Within2(c.y * sy, r.top);
    if (IsBitmapStatic(c)) {
      // A bitmap static takes the size of its bitmap: 132 is 107 x 61 pixels.
      placed = placed && r.right - r.left == 107 && r.bottom - r.top == 61;
    } else if (c.id == 1032) {
      placed = placed && Within2(c.w * sx, r.right - r.left);  // closed height is the font's
    } else {
      placed = placed && Within2(c.w * sx, r.right - r.left) && Within2(c.h * sy, r.bottom - r.top);
    }
    Check(placed, name + " at " + std::to_string(r.left) + "," + std::to_string(r.top) + " " +
                      std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
    child = GetWindow(child, GW_HWNDNEXT);
  }
  Check(child == nullptr, "no further controls");

  Check(SendDlgItemMessageA(dialog, 1048, BM_GETIMAGE, IMAGE_ICON, 0) != 0,
        "the connect button shows an icon");
  // The dialog manager marks the focused push button as the default while it has the focus;
  // none is the default otherwise.
  const LRESULT def = SendMessageA(dialog, DM_GETDEFID, 0, 0);
  const int defId = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : 0;
  Check(defId != 1025 && defId != 1026 && defId != 1027 && defId != 1048,
        "no push button is the default button (DM_GETDEFID " + std::to_string(defId) + ")");
}

// Reads dialog template 102 out of loadwing.exe itself and compares it with the layout: the
// running controls cannot show every template style (a combo box moves WS_VSCROLL to its list).
class TemplateReader {
 public:
  TemplateReader(const BYTE* p, const BYTE* end) : p_(p), end_(end) {}
  bool ok() const { return p_ <= end_; }
  WORD Word() { return Take<WORD>(); }
  DWORD Dword() { return Take<DWORD>(); }
  short Short() { return Take<short>(); }
  BYTE Byte() { return Take<BYTE>(); }
  void AlignDword(const BYTE* base) {
    while ((p_ - base) % 4 != 0) ++p_;
  }
  // sz_Or_Ord: "" when empty, "#n" for an ordinal, else the string.
  std::string NameOrOrdinal() {
    const WORD first = Word();
    if (first == 0) return "";
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text(1, static_cast<char>(first));
    for (WORD c = Word(); c != 0 && ok(); c = Word()) text += static_cast<char>(c);
    return text;
  }

 private:
  template <typename T>
  T Take() {
    T value{};
    if (p_ + sizeof(T) <= end_) std::memcpy(&value, p_, sizeof(T));
    p_ += sizeof(T);
    return value;
  }
  const BYTE* p_;
  const BYTE* end_;
};

std::string ClassFromOrdinal(const std::string& name) {
  static const char* const kClasses[] = {"Button",  "Edit",      "Static",
                                         "ListBox", "ScrollBar", "ComboBox"};
  if (name.size() > 1 && name[0] == '#') {
    const int ordinal = std::stoi(name.substr(1));
    if (ordinal >= 0x80 && ordinal <= 0x85) return kClasses[ordinal - 0x80];
  }
  return name;
}

// An icon resource holds exactly the images (size in pixels, bits per pixel) it should.
void CheckIconGroup(HMODULE module, int id, const std::vector<std::pair<int, int>>& images) {
  HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14));  // group icon
  Check(group != nullptr, "icon " + std::to_string(id) + " exists");
  if (group == nullptr) return;
  const auto* p = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
  WORD count = 0;
  std::memcpy(&count, p + 4, sizeof(count));
  std::vector<std::pair<int, int>> found;
  for (WORD i = 0; i < count; ++i) {
    const BYTE* entry = p + 6 + 14 * i;  // GRPICONDIRENTRY
    WORD bits = 0;
    std::memcpy(&bits, entry + 6, sizeof(bits));
    found.emplace_back(entry[0] == 0 ? 256 : entry[0], bits);
  }
  std::string list;
  for (const auto& [size, bits] : found) {
    list += " " + std::to_string(size) + "px/" + std::to_string(bits) + "bit";
  }
  Check(found == images, "icon " + std::to_string(id) + " images:" + list);
}

void CheckTemplate(const std::string& exe) {
  HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  Check(module != nullptr, "loadwing.exe opened as data");
  if (module == nullptr) return;
  HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(102), MAKEINTRESOURCEA(5));  // RT_DIALOG
  Check(info != nullptr, "dialog template 102 exists");
  CheckIconGroup(
      module, 128,
      {{48, 4}, {48, 8}, {48, 32}, {32, 4}, {32, 8}, {32, 32}, {16, 4}, {16, 8}, {16, 32}});
  CheckIconGroup(module, 133, {{32, 4}});
  CheckIconGroup(module, 134, {{32, 4}});
  if (HRSRC bitmap = FindResourceA(module, MAKEINTRESOURCEA(132), MAKEINTRESOURCEA(2))) {
    BITMAPINFOHEADER header{};
    std::memcpy(&header, LockResource(LoadResource(module, bitmap)), sizeof(header));
    Check(header.biWidth == 107 && header.biHeight == 61 && header.biBitCount == 8,
          "bitmap 132 is 107 x 61 pixels in 256 colours");
  } else {
    Check(false, "bitmap 132 exists");
  }
  if (info == nullptr) return;
  const auto* base = static_cast<const BYTE*>(LockResource(LoadResource(module, info)));
  TemplateReader in(base, base + SizeofResource(module, info));
  const WORD version = in.Word();
  const WORD signature = in.Word();
  Check(version == 1 && signature == 0xFFFF, "an extended dialog template");
  in.Dword();  // help id
  const DWORD exStyle = in.Dword();
  const DWORD style = in.Dword();
  const WORD count = in.Word();
  const short x = in.Short(), y = in.Short(), cx = in.Short(), cy = in.Short();
  const std::string menu = in.NameOrOrdinal();
  const std::string windowClass = in.NameOrOrdinal();
  const std::string title = in.NameOrOrdinal();
  const WORD points = in.Word();
  in.Word();  // weight
  in.Byte();  // italic
  in.Byte();  // character set
  const std::string face = in.NameOrOrdinal();
  Check(style == (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME |
                  DS_SETFONT | DS_FIXEDSYS),
        "template style exactly");
  Check(exStyle == WS_EX_APPWINDOW, "template extended style exactly WS_EX_APPWINDOW");
  Check(x == 0 && y == 0 && cx == 324 && cy == 169, "template 324 x 169 dialog units");
  Check(menu.empty() && windowClass.empty() && title == kCaption, "template caption, no menu");
  Check(points == 8 && face == "MS Shell Dlg", "template font 8 pt \"MS Shell Dlg\"");
  Check(count == std::size(kLayout), "template has 13 controls");
  for (std::size_t i = 0; i < count && i < std::size(kLayout) && in.ok(); ++i) {
    const Control& c = kLayout[i];
    in.AlignDword(base);
    in.Dword();  // help id
    const DWORD itemEx = in.Dword();
    const DWORD itemStyle = in.Dword();
    const short ix = in.Short(), iy = in.Short(), icx = in.Short(), icy = in.Short();
    const auto id = static_cast<int>(in.Dword());
    const std::string itemClass = ClassFromOrdinal(in.NameOrOrdinal());
    const std::string text = in.NameOrOrdinal();
    const WORD extra = in.Word();
    for (WORD k = 0; k < extra; ++k) in.Byte();
    const std::string name =
        "template item " + std::to_string(i + 1) + " (" + std::to_string(c.id) + ")";
    Check(id == c.id, name + " id " + std::to_string(id));
    Check(lstrcmpiA(itemClass.c_str(), c.className) == 0, name + " class " + itemClass);
    const std::string wantText = c.id == 1001        ? "Static"
                                 : c.id == 1032      ? ""
                                 : IsBitmapStatic(c) ? "#132"
                                                     : c.text;
    Check(text == wantText, name + " text \"" + text + "\"");
    char styles[64];
    std::snprintf(styles, sizeof(styles), " style 0x%08lx", static_cast<unsigned long>(itemStyle));
    Check(itemStyle == c.style && itemEx == 0, name + styles + " exactly");
    Check(ix == c.x && iy == c.y && icx == c.w && icy == c.h, name + " position");
  }
  FreeLibrary(module);
}

// Clicks "select firmware" and confirms path in the Open dialog (or cancels it when empty).
bool ChooseThroughOpenDialog(HWND dialog, const std::string& path) {
  PostMessageA(GetDlgItem(dialog, 1025), BM_CLICK, 0, 0);
  HWND open = FindOpenDialog(dialog);
  if (open == nullptr) {
    Check(false, "the Open dialog appears, owned by the main dialog");
    return false;
  }
  if (path.empty()) {
    PostMessageA(open, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(open, IDCANCEL)));
  } else {
    HWND edit = FindFileNameEdit(open);
    if (edit == nullptr) {
      Check(false, "the Open dialog has a file-name field");
      return false;
    }
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(open, IDOK)));
  }
  const bool closed = WaitFor([&] { return !IsWindow(open); });
  Check(closed, "the Open dialog closes");
  return closed;
}

void ExpectLoad(HWND dialog, const std::string& path, const std::string& status,
                bool startEnabled) {
  if (!ChooseThroughOpenDialog(dialog, path)) return;
  const bool shown = WaitFor([&] { return Status(dialog) == status; }, 10000);
  Check(shown, "status \"" + status + "\", found \"" + Status(dialog) + "\"");
  if (!path.empty()) {
    Check(Text(GetDlgItem(dialog, 1002)) == path,
          "path field shows " + path + ", found " + Text(GetDlgItem(dialog, 1002)));
  }
  Check((IsWindowEnabled(GetDlgItem(dialog, 1027)) != 0) == startEnabled,
        std::string("\"start transfer\" ") + (startEnabled ? "enabled" : "disabled"));
}

int RunMain(const std::string& mot, const std::string& hex, const std::string& bad,
            const std::string& shotReady, const std::string& shotDone) {
  HWND dialog = FindDialog();
  Check(dialog != nullptr, "the dialog \"ORV Loadwing V1.12\" is shown");
  if (dialog == nullptr) return 1;
  CheckLayout(dialog);

  // The start-up timer's reconnection replaces " not connected"; nothing is saved.
  Check(WaitFor([&] { return Status(dialog) == " Port closed"; }, 10000),
        "after the start-up timer the status reads \" Port closed\", found \"" + Status(dialog) +
            "\"");
  Check(!IsWindowEnabled(GetDlgItem(dialog, 1027)), "\"start transfer\" disabled at start");
  for (int id : {1025, 1026, 1032, 1048}) {
    Check(IsWindowEnabled(GetDlgItem(dialog, id)) != 0, std::to_string(id) + " enabled");
  }

  // Enter (the OK command) does nothing.
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  Sleep(300);
  Check(IsWindow(dialog) && IsWindowVisible(dialog) && Status(dialog) == " Port closed",
        "OK (Enter) leaves the dialog open and unchanged");

  ExpectLoad(dialog, mot, " firmware for module 3 loaded", true);
  ExpectLoad(dialog, hex, " firmware for Fanfolder/Crossfolder loaded", true);
  ExpectLoad(dialog, bad, " load firmware: can't open file, error 6", false);
  ExpectLoad(dialog, "", " load firmware: invalid firmware file", false);
  ExpectLoad(dialog, mot, " firmware for module 3 loaded", true);

  // Let the test script take its screenshot of the dialog in this state.
  if (!shotReady.empty()) {
    // Tells the script where the dialog is, so it can cut the picture out of the screen.
    RECT frame;
    GetWindowRect(dialog, &frame);
    if (FILE* f = std::fopen(shotReady.c_str(), "w")) {
      std::fprintf(f, "%ldx%ld+%ld+%ld\n", frame.right - frame.left, frame.bottom - frame.top,
                   frame.left, frame.top);
      std::fclose(f);
    }
    WaitFor([&] { return GetFileAttributesA(shotDone.c_str()) != INVALID_FILE_ATTRIBUTES; }, 15000);
  }

  // Minimise and restore: the icon is painted centred, then the dialog again.
  ShowWindow(dialog, SW_MINIMIZE);
  Check(WaitFor([&] { return IsIconic(dialog) != 0; }, 5000), "minimised");
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  Sleep(300);
  ShowWindow(dialog, SW_RESTORE);
  Check(WaitFor([&] { return IsIconic(dialog) == 0; }, 5000), "restored");
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  Check(Status(dialog) == " firmware for module 3 loaded", "the dialog survives minimising");

  // Escape, as a key through the dialog's keyboard handling, ends the program.
  PostMessageA(GetDlgItem(dialog, 1025), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageA(GetDlgItem(dialog, 1025), WM_KEYUP, VK_ESCAPE, 0xC0010001);
  Check(WaitFor([&] { return !IsWindow(dialog); }, 10000), "Escape ends the dialog");
  return failures == 0 ? 0 : 1;
}

// Cancel arrives while "select firmware" runs (its Open dialog is up): the dialog must not end
// before that handler has returned, and must end right after.
int RunNested(const std::string& mot) {
  HWND dialog = FindDialog();
  Check(dialog != nullptr, "the dialog is shown");
  if (dialog == nullptr) return 1;
  WaitFor([&] { return Status(dialog) == " Port closed"; }, 10000);
  PostMessageA(GetDlgItem(dialog, 1025), BM_CLICK, 0, 0);
  HWND open = FindOpenDialog(dialog);
  Check(open != nullptr, "the Open dialog appears");
  if (open == nullptr) return 1;
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  Sleep(1000);
  Check(IsWindow(dialog) && IsWindow(open),
        "Cancel during the handler leaves both dialogs in place");
  HWND edit = FindFileNameEdit(open);
  Check(edit != nullptr, "file-name field found");
  if (edit == nullptr) return 1;
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(mot.c_str()));
  PostMessageA(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(open, IDOK)));
  Check(WaitFor([&] { return !IsWindow(dialog); }, 10000),
        "the dialog ends once the handler has returned");
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 6 && args[0] == "main") {
    return RunMain(args[1], args[2], args[3], args[4], args[5]);
  }
  if (args.size() == 2 && args[0] == "nested") return RunNested(args[1]);
  if (args.size() == 2 && args[0] == "template") {
    CheckTemplate(args[1]);
    return failures == 0 ? 0 : 1;
  }
  std::fprintf(
      stderr,
      "usage: gui_driver template EXE | main MOT HEX BAD SHOT_READY SHOT_DONE | nested MOT\n");
  return 2;
}
