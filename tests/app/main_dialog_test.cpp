#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/main_dialog_fixture.h"

namespace loadwing::testing::main_dialog_tests {
namespace {

const std::string kStatus = "SetItemText 1001 ";
const std::string kPath = "SetItemText 1002 ";

// --- Initialisation.

TEST_F(MainDialogTest, InitialisationRunsItsStepsInOrder) {
  SetPorts({3, 5});
  AttachCable();
  Start();
  const std::vector<std::string> expected = {
      "SetWindowIcons",
      kStatus + " not connected",
      kPath,
      "ListAdd COM3  (Serial2)",
      "ListAdd COM5  (Serial4)",
      "ListAdd ORV USB cable",
      "ListSelect 0",
      kStatus + " not connected",
      kPath,
      "UpdateNow",
      "SetConnectIcon 134",
      "StartTimer 1 50",
  };
  EXPECT_EQ(window->calls, expected);
}

TEST_F(MainDialogTest, InitialisationLeavesNothingOpenAndStartTransferDisabled) {
  image.target = FirmwareTarget::Module3;  // what an earlier dialog may have left
  Start();
  EXPECT_EQ(window->Status(), " not connected");
  EXPECT_EQ(window->selection, 0);
  EXPECT_EQ(window->SelectedText(), "COM1");  // the fallback list, as the map names nothing
  EXPECT_EQ(window->entries.size(), 9u);
  EXPECT_EQ(window->connectIcon, 134);
  EXPECT_EQ(window->windowIconSets, 1);
  ASSERT_EQ(window->timersStarted.size(), 1u);
  EXPECT_EQ(window->timersStarted[0].id, 1u);
  EXPECT_EQ(window->timersStarted[0].milliseconds, 50u);
  EXPECT_EQ(dialog->timerId, 1u);
  EXPECT_EQ(dialog->connectionId, kNoConnection);
  EXPECT_EQ(image.target, FirmwareTarget::None);
  EXPECT_FALSE(window->IsEnabled(IDC_START));
  for (int id : {IDC_SELECT, IDC_CLOSE, IDC_CONNECT, IDC_PORTLIST}) {
    EXPECT_TRUE(window->IsEnabled(id)) << id;
  }
  EXPECT_TRUE(serial.calls.empty()) << "initialisation must not connect";
}

// --- The start-up timer.

TEST_F(MainDialogTest, TimerTickKillsTheTimerThenReconnects) {
  Start();
  window->calls.clear();
  Tick();
  ASSERT_FALSE(window->calls.empty());
  EXPECT_EQ(window->calls.front(), "KillTimer 1");
  EXPECT_EQ(window->Status(), " Port closed");
}

TEST_F(MainDialogTest, TimerFiresOnlyOnce) {
  SetPorts({5});
  settings.values[kComSettingName] = SerialConnection(5);
  Start();
  Tick();
  ASSERT_EQ(dialog->connectionId, SerialConnection(5));
  const auto callsAfterFirstTick = window->calls;
  const auto serialCallsAfterFirstTick = serial.calls;
  Tick();
  EXPECT_EQ(window->calls, callsAfterFirstTick);
  EXPECT_EQ(serial.calls, serialCallsAfterFirstTick);
  EXPECT_EQ(window->timersKilled, std::vector<std::uintptr_t>{1});
}

TEST_F(MainDialogTest, ForeignTimerIdDoesNothing) {
  Start();
  const auto before = window->calls;
  dialog->OnTimer(2);
  dialog->OnTimer(0);
  EXPECT_EQ(window->calls, before);
  Tick();  // the start-up timer still works afterwards
  EXPECT_EQ(window->timersKilled, std::vector<std::uintptr_t>{1});
  EXPECT_EQ(window->Status(), " Port closed");
}

TEST_F(MainDialogTest, WithoutATimerThereIsNoReconnection) {
  SetPorts({5});
  settings.values[kComSettingName] = SerialConnection(5);
  window->timerCreationFails = true;
  dialog = std::make_unique<MainDialog>(
      MainDialogPlatform{*window, serial, d2xx, portMap, settings, clock, image});
  dialog->OnInitDialog();
  EXPECT_EQ(dialog->timerId, 0u);
  for (std::uintptr_t id : {std::uintptr_t{0}, std::uintptr_t{1}}) dialog->OnTimer(id);
  EXPECT_TRUE(window->timersKilled.empty());
  EXPECT_EQ(window->Status(), " not connected");
  EXPECT_TRUE(serial.calls.empty());
}

// --- Close and destruction.

TEST_F(MainDialogTest, CloseReadsTheFieldsBackAndEndsWithOk) {
  Start();
  window->texts[IDC_STATUS] = " shown";
  window->texts[IDC_PATH] = "c:\\fw\\a.mot";
  dialog->OnClose();
  EXPECT_EQ(window->endResult, 1);
  EXPECT_EQ(dialog->statusText, " shown");
  EXPECT_EQ(dialog->firmwarePath, "c:\\fw\\a.mot");
  EXPECT_EQ(serial.calls, std::vector<std::string>{}) << "Close alone keeps the link";
}

TEST_F(MainDialogTest, DestructionSavesTheOpenLinkThenClosesIt) {
  SetPorts({1, 5});
  Start();
  Tick();
  Choose("COM5");
  ASSERT_EQ(window->Status(), " COM5 connected");
  CloseDialog();
  EXPECT_EQ(settings.values[kComSettingName], 0x105);
  EXPECT_FALSE(serial.open);
  EXPECT_EQ(serial.calls.back(), "Close");
}

TEST_F(MainDialogTest, ClosingWithNoLinkStoresZero) {
  settings.values[kComSettingName] = 0x103;  // from an earlier run
  Start();
  CloseDialog();
  EXPECT_EQ(settings.values[kComSettingName], 0);
}

TEST_F(MainDialogTest, DestroyingTheDialogObjectClosesTheCable) {
  AttachCable();
  Start();
  Choose("ORV USB cable");
  ASSERT_TRUE(d2xx.devices[0].open);
  dialog.reset();  // without OnDestroy: the member's own destructor closes it
  EXPECT_FALSE(d2xx.devices[0].open);
}

TEST_F(MainDialogTest, NextRunReopensTheSavedPortAtTheFirstTick) {
  SetPorts({1, 5});
  Start();
  Tick();
  Choose("COM5");
  CloseDialog();
  serial.calls.clear();

  Start();
  EXPECT_EQ(window->Status(), " not connected");
  EXPECT_TRUE(serial.calls.empty()) << "nothing opens before the tick";
  Tick();
  EXPECT_EQ(serial.openedPath, "\\\\.\\COM5");
  EXPECT_EQ(window->Status(), " COM5 connected");
  EXPECT_EQ(window->SelectedText(), "COM5  (Serial4)");
  EXPECT_EQ(dialog->connectionId, 0x105);
  EXPECT_EQ(window->connectIcon, 133);
  // Through "Port closed" on the way.
  const auto history = window->StatusHistory();
  ASSERT_GE(history.size(), 2u);
  EXPECT_EQ(history[history.size() - 2], " Port closed");
}

struct SavedLinkCase {
  const char* name;
  bool hasSetting;
  std::int32_t saved;
  bool cableAttached;
  std::string status;
  ConnectionId connection;
  int selection;
  // Failures name the case rather than dump its bytes.
  friend void PrintTo(const SavedLinkCase& c, std::ostream* os) { *os << c.name; }
};

class SavedLinkTest : public MainDialogTest, public ::testing::WithParamInterface<SavedLinkCase> {};

TEST_P(SavedLinkTest, FirstTickReconnectsWhatWasSaved) {
  const SavedLinkCase& c = GetParam();
  SetPorts({1, 5});
  if (c.cableAttached) AttachCable();
  if (c.hasSetting) settings.values[kComSettingName] = c.saved;
  Start();
  window->selection = 1;  // the user moved the selection before the tick: kept when nothing opens
  Tick();
  EXPECT_EQ(window->Status(), c.status);
  EXPECT_EQ(dialog->connectionId, c.connection);
  EXPECT_EQ(window->selection, c.selection);
  EXPECT_EQ(window->connectIcon, c.connection != kNoConnection ? 133 : 134);
}

INSTANTIATE_TEST_SUITE_P(
    MainDialog, SavedLinkTest,
    ::testing::Values(
        SavedLinkCase{"Absent", false, 0, true, " Port closed", kNoConnection, 1},
        SavedLinkCase{"Zero", true, 0, false, " Port closed", kNoConnection, 1},
        SavedLinkCase{"SerialListed", true, 0x101, false, " COM1 connected", 0x101, 0},
        SavedLinkCase{"SerialNotListed", true, 0x107, false, " Port closed", kNoConnection, 1},
        SavedLinkCase{"CableAttached", true, 0x200, true, " USB: connected", 0x200, 2},
        SavedLinkCase{"CableMissing", true, 0x200, false, " Port closed", kNoConnection, 1},
        SavedLinkCase{"Garbage", true, 0x7FFF0105, true, " Port closed", kNoConnection, 1}),
    [](const ::testing::TestParamInfo<SavedLinkCase>& param) { return param.param.name; });

// --- Status line, progress bar and busy state.

TEST_F(MainDialogTest, SetStatusPutsOneBlankInFrontAndRepaintsAtOnce) {
  Start();
  dialog->firmwarePath = "d:\\new.hex";  // set but not shown yet
  window->calls.clear();
  dialog->SetStatus("");
  EXPECT_EQ(window->Status(), " ");
  EXPECT_EQ(window->calls,
            (std::vector<std::string>{kStatus + " ", kPath + "d:\\new.hex", "UpdateNow"}));
}

TEST_F(MainDialogTest, ProgressRangeKeepsOnlyTheLow16Bits) {
  Start();
  const struct {
    std::uint32_t max;
    std::uint16_t shown;
  } cases[] = {{20, 20}, {128, 128}, {65535, 65535}, {65536, 0}, {0x12345, 0x2345}};
  for (const auto& c : cases) {
    dialog->SetProgressRange(c.max);
    EXPECT_EQ(window->progressMax, c.shown) << c.max;
  }
  dialog->SetProgressPos(17);
  EXPECT_EQ(window->progressPos, 17);
}

TEST_F(MainDialogTest, EnableControlsSwitchesTheFiveControlsInOrder) {
  Start();
  for (bool enable : {false, true}) {
    window->calls.clear();
    dialog->EnableControls(enable);
    const std::string state = enable ? " on" : " off";
    EXPECT_EQ(window->calls,
              (std::vector<std::string>{"EnableItem 1025" + state, "EnableItem 1027" + state,
                                        "EnableItem 1026" + state, "EnableItem 1048" + state,
                                        "EnableItem 1032" + state}));
    for (int id : {IDC_SELECT, IDC_START, IDC_CLOSE, IDC_CONNECT, IDC_PORTLIST}) {
      EXPECT_EQ(window->IsEnabled(id), enable) << id;
    }
  }
}

}  // namespace
}  // namespace loadwing::testing::main_dialog_tests
