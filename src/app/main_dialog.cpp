#include "app/main_dialog.h"

#include <optional>
#include <string>

#include "app/dialog_ids.h"
#include "record/record_entry.h"
#include "firmware/firmware_loader.h"
#include "link/link_connect.h"
#include "link/link_io.h"
#include "link/port_discovery.h"

namespace loadwing {

namespace {

constexpr int kDialogOk = 1;
constexpr int kHighestPortNumber = 99;

// The five interactive controls, in the order they are switched.
constexpr int kInteractiveControls[] = {IDC_SELECT, IDC_START, IDC_CLOSE, IDC_CONNECT,
                                        IDC_PORTLIST};

}  // namespace

MainDialog::MainDialog(const MainDialogPlatform& platform)
    : usbCable(platform.d2xx), platform_(platform) {}

// --- Event table handlers.

void MainDialog::OnDeviceChange() {
  RefreshConnectionList();
}

void MainDialog::OnTimer(std::uintptr_t id) {
  // 0 is what a failed timer creation left: no message may match it.
  if (timerId == 0 || id != timerId) return;
  platform_.window.KillTimer(id);
  // The timer is gone; a tick already on its way must not reconnect a second time.
  timerId = 0;
  ReconnectSaved();
}

void MainDialog::OnClose() {
  ReadBackFields();
  platform_.window.EndDialog(kDialogOk);
}

void MainDialog::OnDestroy() {
  platform_.settings.WriteInt(kComSettingName, connectionId);
  Disconnect();
}

void MainDialog::OnSelectFirmware() {
  DialogWindow& window = platform_.window;
  window.EnableItem(IDC_START, false);
  ReadBackFields();
  statusText.clear();
  RefreshFields();

  const std::optional<std::string> path = window.ChooseFirmwareFile();
  if (path) {
    // The firmware loaded before is given up as soon as a file is confirmed.
    platform_.image.target = FirmwareTarget::None;
    plan_ = TransferPlan();
    firmwarePath = *path;
    RefreshFields();
    window.UpdateNow();

    FirmwareFileSystem& files = platform_.files ? *platform_.files : PlatformFirmwareFileSystem();
    plan_ = MakeTransferPlan(*path, files, platform_.image);
    statusText = plan_.outcome.statusText;
    RefreshFields();
    // A failed load keeps its own text; "start transfer" stays disabled.
    if (platform_.image.target == FirmwareTarget::None) return;
  }

  if (platform_.image.target != FirmwareTarget::None) {
    window.EnableItem(IDC_START, true);
  } else {
    statusText = " load firmware: invalid firmware file";
    RefreshFields();
  }
}

FlashOutcome MainDialog::FlashTransfer() {
  LinkIo link(connectionId, platform_.serial, usbCable, *this, platform_.clock);
  Clock& clock = platform_.clock;
  // The dialog's clock counts whole seconds, and so do its phases in the record.
  TransferRecorder recorder([&clock] { return static_cast<double>(clock.Now()); });
  // Described as it starts: the plan of the one load and the link open now.
  const bool starts = platform_.image.target != FirmwareTarget::None;
  FlashRecordEntry entry =
      RecordEntryFromPlan(plan_, RecordStart{kDialogProgramName, LinkLabel(), "", clock.Now()});
  if (starts) AppendRecord(entry);
  const FlashOutcome outcome =
      loadwing::FlashTransfer(platform_.image, link, *this, clock, recorder);
  if (outcome != FlashOutcome::NotStarted) {
    // The final state is on screen before the record is written, however long that takes.
    platform_.window.UpdateNow();
    recorder.Finish(outcome, statusText, entry);
    AppendRecord(entry);
  }
  return outcome;
}

std::string MainDialog::LinkLabel() const {
  switch (KindOf(connectionId)) {
    case LinkKind::Serial:
      return "COM" + std::to_string(connectionId & 0xFF);
    case LinkKind::Usb:
      return "USB cable";
    case LinkKind::None:
      break;
  }
  return "none";
}

void MainDialog::AppendRecord(const FlashRecordEntry& entry) {
  if (platform_.record == nullptr) return;
  // The dialog has no place to say that the record was not written; the transfer stands.
  std::string ignored;
  [[maybe_unused]] const bool written = platform_.record->Append(entry, ignored);
}

bool MainDialog::OnInitDialog() {
  DialogWindow& window = platform_.window;
  window.SetWindowIcons();

  connectionId = kNoConnection;
  statusText = " not connected";
  RefreshFields();

  FillPortList();
  ProbeUsb();
  window.ListSelect(0);  // no notification: selecting here does not connect

  connectionId = kNoConnection;
  SetStatus("not connected");
  window.SetConnectIcon(IDI_DISCONNECTED);
  platform_.image.target = FirmwareTarget::None;
  timerId = window.StartTimer(kStartupTimerId, kStartupTimerMs);
  return true;
}

// --- Connection manager.

int MainDialog::FindConnectionEntry(ConnectionId id) {
  DialogWindow& window = platform_.window;
  switch (KindOf(id)) {
    case LinkKind::Serial: {
      const int port = id & 0xFF;
      // The count is asked again after every entry, as the list may change under us.
      for (int i = 0; i < window.ListCount(); ++i) {
        const std::string text = window.ListText(i);
        if (text.size() > 3 && text.compare(0, 3, "COM") == 0 &&
            PortNumberFromEntry(text) == port) {
          return i;
        }
      }
      return -1;
    }
    case LinkKind::Usb:
      return window.ListFindExact(kUsbCableEntry);
    case LinkKind::None:
      break;
  }
  return -1;
}

void MainDialog::Disconnect() {
  switch (KindOf(connectionId)) {
    case LinkKind::Serial:
      platform_.serial.Close();
      break;
    case LinkKind::Usb:
      usbCable.Close();  // a refused close is not reported: the link counts as closed
      break;
    case LinkKind::None:
      break;
  }
  connectionId = kNoConnection;
  SetStatus("Port closed");
  platform_.window.SetConnectIcon(IDI_DISCONNECTED);
}

void MainDialog::ConnectSelected() {
  Disconnect();
  const int selected = platform_.window.ListSelection();
  // Without a selection there is nothing to open; the serial branch reports the failed open
  // rather than the cable being opened in its place.
  if (selected >= 0 && selected == FindConnectionEntry(kUsbConnection)) {
    ConnectUsb();
  } else {
    ConnectSerial();
  }
  if (connectionId != kNoConnection) platform_.window.SetConnectIcon(IDI_CONNECTED);
}

void MainDialog::ToggleConnection() {
  if (connectionId != kNoConnection) {
    Disconnect();
  } else {
    ConnectSelected();
  }
}

void MainDialog::ReconnectSaved() {
  Disconnect();
  const int index = FindConnectionEntry(platform_.settings.ReadInt(kComSettingName));
  if (index == -1) return;
  platform_.window.ListSelect(index);
  ConnectSelected();
}

void MainDialog::RefreshConnectionList() {
  DialogWindow& window = platform_.window;
  while (window.ListCount() != 0) window.ListDelete(0);
  FillPortList();
  ProbeUsb();
  const int index = FindConnectionEntry(connectionId);
  if (index != -1) {
    window.ListSelect(index);  // the open link stays open
    return;
  }
  Disconnect();
  window.ListSelect(0);
}

// --- Port discovery.

void MainDialog::FillPortList() {
  for (const std::string& entry : DiscoverSerialPorts(platform_.portMap)) {
    platform_.window.ListAdd(entry);
  }
}

void MainDialog::ProbeUsb() {
  if (ProbeUsbCable(usbCable)) platform_.window.ListAdd(kUsbCableEntry);
}

// --- Transports.

void MainDialog::ConnectSerial() {
  ReadBackFields();
  const int selected = platform_.window.ListSelection();
  const std::string entry = selected >= 0 ? platform_.window.ListText(selected) : std::string();
  // An entry too short to hold a port number, or one whose number names no port 0..99, cannot
  // be opened: it would give a connection id that names no serial port.
  const int port = entry.size() > 3 ? PortNumberFromEntry(entry) : -1;
  if (port < 0 || port > kHighestPortNumber) {
    SetStatus(LinkErrorText(LinkError::InvalidHandle));
    return;
  }
  if (const LinkError error = ConnectSerialPort(platform_.serial, SerialDevicePath(port));
      error != LinkError::None) {
    SetStatus(LinkErrorText(error));
    return;
  }
  connectionId = SerialConnection(port);
  SetStatus("COM" + std::to_string(port) + " connected");
}

void MainDialog::ConnectUsb() {
  if (const LinkError error = ConnectUsbCable(usbCable); error != LinkError::None) {
    SetStatus(LinkErrorText(error));
    return;
  }
  connectionId = kUsbConnection;
  SetStatus("USB: connected");
}

// --- Data exchange.

void MainDialog::RefreshFields() {
  platform_.window.SetItemText(IDC_STATUS, statusText);
  platform_.window.SetItemText(IDC_PATH, firmwarePath);
}

void MainDialog::ReadBackFields() {
  statusText = platform_.window.GetItemText(IDC_STATUS);
  firmwarePath = platform_.window.GetItemText(IDC_PATH);
}

// --- Status line, progress bar and busy state.

void MainDialog::UpdateNow() {
  platform_.window.UpdateNow();
}

void MainDialog::SetProgressRange(std::uint32_t max) {
  platform_.window.SetProgressRange(static_cast<std::uint16_t>(max & 0xFFFFu));
}

void MainDialog::SetProgressPos(std::int32_t pos) {
  platform_.window.SetProgressPos(pos);
}

void MainDialog::EnableControls(bool enable) {
  for (const int id : kInteractiveControls) platform_.window.EnableItem(id, enable);
}

void MainDialog::PumpMessages() {
  platform_.window.PumpMessages();
}

}  // namespace loadwing
