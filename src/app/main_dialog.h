#pragma once
#include <cstdint>
#include <string>

#include "app/dialog_window.h"
#include "app/settings_store.h"
#include "core/clock.h"
#include "core/status_view.h"
#include "firmware/firmware_image.h"
#include "flash/flash_transfer.h"
#include "flash/transfer_plan.h"
#include "link/connection.h"
#include "link/d2xx.h"
#include "link/serial_port.h"
#include "link/serial_port_map.h"
#include "link/usb_link.h"
#include "record/flash_record.h"

namespace loadwing {

// Errors in the dialog: every handler shows its failure in the status line, exactly as the
// product always has, and returns what happened (a FlashOutcome, a bool) for tests and the
// record. A record that cannot be written is a warning in the sink, never a failed transfer.

// What the dialog works on besides its window: the platform's ports, settings and clock, and
// the process-wide firmware image and serial port.
struct MainDialogPlatform {
  DialogWindow& window;
  SerialPort& serial;
  D2xx& d2xx;
  SerialPortMap& portMap;
  SettingsStore& settings;
  Clock& clock;
  FirmwareImage& image;
  // Where every transfer is recorded; none: not recorded. A record that cannot be written is
  // ignored: the dialog's screen never changes for it.
  FlashRecord* record = nullptr;
  // Where firmware files are read from; none: the platform's own files.
  FirmwareFileSystem* files = nullptr;
};

inline constexpr const char* kDialogProgramName = "loadwing dialog";

inline constexpr const char* kComSettingName = "COMSetting";
inline constexpr std::uintptr_t kStartupTimerId = 1;
inline constexpr unsigned kStartupTimerMs = 50;

// The one dialog and the composition root of the program: every operation runs as one of its
// handlers on the user-interface thread. The window layer (Win32, or a fake in tests) routes
// messages to the handlers below; the work itself lives in firmware/, link/ and flash/.
class MainDialog final : public StatusView {
 public:
  explicit MainDialog(const MainDialogPlatform& platform);
  ~MainDialog() override = default;
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // --- Event table handlers, in the table's order.
  void OnDeviceChange();            // WM_DEVICECHANGE: RefreshConnectionList
  void OnTimer(std::uintptr_t id);  // WM_TIMER: the start-up timer's one tick
  void OnClose();                   // "Close" (1026)
  void OnDestroy();                 // WM_DESTROY: save COMSetting, Disconnect
  void OnSelectFirmware();          // "select firmware" (1025)
  FlashOutcome FlashTransfer();     // "start transfer" (1027)
  void ConnectSelected();           // CBN_SELCHANGE of the connection list (1032)
  void ToggleConnection();          // the connect button (1048)
  // WM_INITDIALOG, after the base dialog's own initialisation (the first data exchange).
  // Returns true: the platform gives the focus to the first tab stop.
  bool OnInitDialog();
  // IDOK (Enter without a focused push button): nothing at all.
  void OnOk() {}

  // --- Connection manager and port discovery.
  [[nodiscard]] int FindConnectionEntry(ConnectionId id);
  void Disconnect();
  void ReconnectSaved();
  void RefreshConnectionList();
  void FillPortList();
  void ProbeUsb();
  void ConnectSerial();
  void ConnectUsb();

  // How the record names the open link: "COM3", "USB cable", "none".
  std::string LinkLabel() const;
  // The plan of the firmware loaded last, from its one read: what the record describes.
  const TransferPlan& Plan() const { return plan_; }

  // --- Data exchange of the two texts.
  void RefreshFields() override;
  void ReadBackFields();

  // --- StatusView: the status line, progress bar and busy state.
  void SetStatusText(std::string text) override { statusText = std::move(text); }
  const std::string& StatusText() const override { return statusText; }
  void UpdateNow() override;
  void SetProgressRange(std::uint32_t max) override;
  void SetProgressPos(std::int32_t pos) override;
  void EnableControls(bool enable) override;
  void PumpMessages() override;

  // Fields, in declaration order (the application icon and the control bindings belong to the
  // window layer).
  UsbLink usbCable;
  std::uintptr_t timerId = 0;
  ConnectionId connectionId = kNoConnection;
  std::string statusText;
  std::string firmwarePath;

 private:
  // Appends entry to the flash record, if there is one; a failure changes nothing on screen.
  void AppendRecord(const FlashRecordEntry& entry);

  MainDialogPlatform platform_;
  TransferPlan plan_;
};

}  // namespace loadwing
