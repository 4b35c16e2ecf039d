#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_d2xx.h"
#include "fakes/fake_dialog_window.h"
#include "fakes/fake_flash_record.h"
#include "fakes/fake_serial_port.h"
#include "fakes/fake_serial_port_map.h"
#include "fakes/fake_settings_store.h"
#include "fakes/record_text.h"
#include "fakes/temp_folder.h"

namespace loadwing::testing::main_dialog_tests {

// Helpers of the dialog's tests live in a namespace of their own, so that no other test's
// inline class of the same name meets them in the one test binary.

using testing::TempFolder;

// A dialog on fakes of everything it works on. The platform parts outlive each dialog, so a
// test can close one dialog and start the next, as a second run of the program would.
class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { UsbLink::ResetListedForTesting(); }
  void TearDown() override { dialog.reset(); }

  // Constructs the dialog on a fresh window and runs its initialisation.
  MainDialog& Start() {
    dialog.reset();
    window = std::make_unique<FakeDialogWindow>();
    dialog = std::make_unique<MainDialog>(
        MainDialogPlatform{*window, serial, d2xx, portMap, settings, clock, image, record});
    EXPECT_TRUE(dialog->OnInitDialog());
    return *dialog;
  }
  // The start-up timer's tick.
  void Tick() { dialog->OnTimer(kStartupTimerId); }
  // "Close", the window's destruction and the dialog object's, in the order they come.
  void CloseDialog() {
    dialog->OnClose();
    dialog->OnDestroy();
    dialog.reset();
  }

  // The serial-port map names these ports, each with a device name.
  void SetPorts(const std::vector<int>& ports) {
    portMap.values.clear();
    for (int n : ports) {
      portMap.values.push_back(
          {"\\Device\\Serial" + std::to_string(n - 1), "COM" + std::to_string(n)});
    }
  }
  void AttachCable() { d2xx.devices.push_back({kUsbCableDescription, {}, {}, false}); }
  void DetachCable() { d2xx.devices.clear(); }

  int IndexOf(const std::string& entryStart) const {
    for (std::size_t i = 0; i < window->entries.size(); ++i) {
      if (window->entries[i].compare(0, entryStart.size(), entryStart) == 0) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  // The user picks an entry: the list's selection changes and notifies.
  void Choose(const std::string& entryStart) {
    const int index = IndexOf(entryStart);
    ASSERT_NE(index, -1) << entryStart;
    window->selection = index;
    dialog->ConnectSelected();
  }

  FakeClock clock;
  FakeSerialPort serial{&clock};
  FakeD2xx d2xx{&clock};
  FakeSerialPortMap portMap;
  FakeSettingsStore settings;
  FirmwareImage image;
  FlashRecord* record = nullptr;  // the dialog records nothing unless a test sets one
  std::unique_ptr<FakeDialogWindow> window = std::make_unique<FakeDialogWindow>();
  std::unique_ptr<MainDialog> dialog;
};

}  // namespace loadwing::testing::main_dialog_tests
