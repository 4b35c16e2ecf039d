// loadwing.exe: the application object and the dialog procedure that routes the messages of
// the one modal dialog to MainDialog's handlers.
#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>

#include "app/dialog_ids.h"
#include "app/main_dialog.h"
#include "core/clock.h"
#include "firmware/firmware_image.h"
#include "gui/dialog_window_win32.h"
#include "gui/settings_store_win32.h"
#include "link/d2xx_win32.h"
#include "link/serial_port_map_win32.h"
#include "link/serial_port_win32.h"

namespace loadwing {
namespace {

// The one firmware image of the process.
FirmwareImage firmwareImage;

// The file name of the running executable without folder and extension.
std::string ProgramName() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length < MAX_PATH ? length : MAX_PATH);
  const auto slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

class LoaderApp {
 public:
  explicit LoaderApp(HINSTANCE instance)
      : instance_(instance), settings_(ProgramName(), kSettingsRegistryKey) {}

  int Run() {
    // The progress bar's window class is registered here (InitCommonControls does nothing with
    // version 6 of the common controls).
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_MAIN), nullptr, &LoaderApp::DialogProc,
                    reinterpret_cast<LPARAM>(this));
    // The window is gone; the dialog object closes the cable if it is still open.
    dialog_.reset();
    window_.reset();
    return 0;
  }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      auto* app = reinterpret_cast<LoaderApp*>(lParam);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, lParam);
      return app->OnInitDialog(hwnd);
    }
    auto* app = reinterpret_cast<LoaderApp*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    // Messages before WM_INITDIALOG (the font, the frame) get the default handling.
    if (app == nullptr || !app->dialog_) return FALSE;
    return app->OnMessage(hwnd, message, wParam);
  }

  INT_PTR OnInitDialog(HWND hwnd) {
    window_ = std::make_unique<Win32DialogWindow>(hwnd, instance_);
    std::string noPlace;
    const std::string recordPath = DefaultFlashRecordPath(noPlace);
    // Without a place for the record the dialog works as ever, unrecorded.
    if (!recordPath.empty()) record_ = std::make_unique<FileFlashRecord>(recordPath);
    dialog_ = std::make_unique<MainDialog>(MainDialogPlatform{
        *window_, serial_, d2xx_, portMap_, settings_, clock_, firmwareImage, record_.get()});
    return dialog_->OnInitDialog() ? TRUE : FALSE;
  }

  // The event table. FALSE hands a message to the dialog's default handling: for
  // WM_DEVICECHANGE that makes the default window procedure's answer the message's result.
  INT_PTR OnMessage(HWND hwnd, UINT message, WPARAM wParam) {
    switch (message) {
      case WM_DEVICECHANGE:
        dialog_->OnDeviceChange();
        return FALSE;
      case WM_TIMER:
        dialog_->OnTimer(static_cast<std::uintptr_t>(wParam));
        return FALSE;
      case WM_PAINT:
        if (!IsIconic(hwnd)) return FALSE;
        PaintMinimised(hwnd);
        return TRUE;
      case WM_QUERYDRAGICON:
        // One of the messages whose result a dialog procedure returns directly.
        return reinterpret_cast<INT_PTR>(window_->AppIcon());
      case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam));
      case WM_DESTROY:
        dialog_->OnDestroy();
        return FALSE;
      default:
        return FALSE;
    }
  }

  INT_PTR OnCommand(WORD id, WORD code) {
    switch (id) {
      case IDC_CLOSE:
        if (code != BN_CLICKED) return FALSE;
        dialog_->OnClose();
        return TRUE;
      case IDC_SELECT:
        if (code != BN_CLICKED) return FALSE;
        dialog_->OnSelectFirmware();
        return TRUE;
      case IDC_START:
        if (code != BN_CLICKED) return FALSE;
        dialog_->FlashTransfer();
        return TRUE;
      case IDC_PORTLIST:
        if (code != CBN_SELCHANGE) return FALSE;
        dialog_->ConnectSelected();
        return TRUE;
      case IDC_CONNECT:
        if (code != BN_CLICKED) return FALSE;
        dialog_->ToggleConnection();
        return TRUE;
      case IDOK:
        dialog_->OnOk();
        return TRUE;
      case IDCANCEL:
        // EndDialog only marks the dialog as ended: the modal loop stops, and the window is
        // destroyed, once the handler that is running has returned.
        window_->EndDialog(IDCANCEL);
        return TRUE;
      default:
        return FALSE;
    }
  }

  // The application icon centred in the client area of the minimised window.
  void PaintMinimised(HWND hwnd) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    SendMessageA(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(hwnd, &client);
    const int x = (client.right - client.left - cx + 1) / 2;
    const int y = (client.bottom - client.top - cy + 1) / 2;
    DrawIcon(dc, x, y, window_->AppIcon());
    EndPaint(hwnd, &paint);
  }

  HINSTANCE instance_;
  SystemClock clock_;
  Win32SerialPort serial_;
  Ftd2xxLibrary d2xx_;
  RegistrySerialPortMap portMap_;
  RegistrySettingsStore settings_;
  std::unique_ptr<Win32DialogWindow> window_;
  std::unique_ptr<FileFlashRecord> record_;
  std::unique_ptr<MainDialog> dialog_;
};

}  // namespace
}  // namespace loadwing

// Arguments are ignored: the program has no options.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  loadwing::LoaderApp app(instance);
  return app.Run();
}
