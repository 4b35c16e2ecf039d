#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/main_dialog_fixture.h"
#include "core/sha256.h"
#include "fakes/sim_link.h"
#include "sim/machine_simulator.h"

namespace loadwing::testing::main_dialog_tests {
namespace {

using testing::sim_link::SimOnSerial;

const std::vector<int> kFiveControls = {IDC_SELECT, IDC_START, IDC_CLOSE, IDC_CONNECT,
                                        IDC_PORTLIST};

// A dialog with COM3 open and firmware for module 5 loaded.
class FlashThroughDialogTest : public MainDialogTest {
 protected:
  void Prepare() {
    SetPorts({1, 3});
    Start();
    Tick();
    Choose("COM3");
    ASSERT_EQ(dialog->connectionId, 0x103);
    window->fileChoices.push_back(
        folder.Write("mod5.mot", MotFile(std::string("Mod5") + "module five")));
    dialog->OnSelectFirmware();
    ASSERT_EQ(image.target, FirmwareTarget::Module5);
    window->calls.clear();
    serial.sent.clear();
  }

  bool AllFiveAre(bool enabled) const {
    return std::all_of(kFiveControls.begin(), kFiveControls.end(),
                       [&](int id) { return window->IsEnabled(id) == enabled; });
  }

  // A machine for module 5 alone, so that its count of requests counts "MO5" and nothing else.
  static sim::SimulatorConfig Module5Machine() {
    sim::SimulatorConfig config;
    config.target = FirmwareTarget::Module5;
    return config;
  }
  // One whose first answer to the request is unexpected: the transfer lets messages run.
  static sim::SimulatorConfig Module5MachineOddOnce() {
    sim::SimulatorConfig config = Module5Machine();
    config.request = sim::RequestReply::Unexpected;
    config.unexpectedAnswer = "MO5??";
    config.unexpectedCount = 1;
    return config;
  }

  // The EnableItem calls logged, in order.
  std::vector<std::string> EnableCalls() const { return window->CallsStartingWith("EnableItem"); }

  TempFolder folder;
};

TEST_F(FlashThroughDialogTest, CompletedTransferFromStartToEnd) {
  Prepare();
  SimOnSerial sim(serial, Module5Machine());
  bool disabledDuringBlocks = true;
  // Looked at after every write the machine answers, each block's among them.
  sim.afterFeed = [&] { disabledDuringBlocks = disabledDuringBlocks && AllFiveAre(false); };

  EXPECT_EQ(dialog->FlashTransfer(), FlashOutcome::Completed);

  const sim::SimulatorReport& report = sim.machine.Report();
  EXPECT_EQ(report.requests, 1u);
  EXPECT_EQ(sim.BlocksReceived(), 128u);
  ASSERT_EQ(report.transfers.size(), 1u);
  EXPECT_TRUE(report.transfers[0].checkByteReceived);
  EXPECT_TRUE(disabledDuringBlocks);
  // The image went out over the dialog's link, right after the request.
  ASSERT_GE(serial.sent.size(), 7u);
  EXPECT_EQ(std::string(serial.sent.begin() + 3, serial.sent.begin() + 7), "Mod5");
  EXPECT_EQ(serial.sent.size(), 3u + 128u * 257u + 1u);

  EXPECT_EQ(window->Status(), " flash: completed");
  EXPECT_EQ(window->progressPos, 0);
  EXPECT_TRUE(AllFiveAre(true));
  const auto history = window->StatusHistory();
  std::vector<std::string> phases;
  for (const std::string& text : history) {
    if (phases.empty() || phases.back() != text) phases.push_back(text);
  }
  EXPECT_EQ(phases,
            (std::vector<std::string>{" flash: query system...", " flash: start...",
                                      " flash: wait for success message...", " flash: completed"}));
}

TEST_F(FlashThroughDialogTest, BusyStateSwitchesTheFiveControlsInOrder) {
  Prepare();
  SimOnSerial sim(serial, Module5Machine());
  dialog->FlashTransfer();
  EXPECT_EQ(EnableCalls(), (std::vector<std::string>{"EnableItem 1025 off", "EnableItem 1027 off",
                                                     "EnableItem 1026 off", "EnableItem 1048 off",
                                                     "EnableItem 1032 off", "EnableItem 1025 on",
                                                     "EnableItem 1027 on", "EnableItem 1026 on",
                                                     "EnableItem 1048 on", "EnableItem 1032 on"}));
}

TEST_F(FlashThroughDialogTest, SameImageCanBeSentAgain) {
  Prepare();
  for (int run = 0; run < 2; ++run) {
    SimOnSerial sim(serial, Module5Machine());
    EXPECT_EQ(dialog->FlashTransfer(), FlashOutcome::Completed) << run;
    EXPECT_EQ(sim.BlocksReceived(), 128u) << run;
  }
  EXPECT_EQ(image.target, FirmwareTarget::Module5);
}

TEST_F(MainDialogTest, NothingLoadedNothingHappens) {
  SetPorts({3});
  Start();
  Choose("COM3");
  window->calls.clear();
  serial.sent.clear();
  EXPECT_EQ(dialog->FlashTransfer(), FlashOutcome::NotStarted);
  EXPECT_TRUE(window->calls.empty());
  EXPECT_TRUE(serial.sent.empty());
  EXPECT_EQ(window->Status(), " COM3 connected");
}

TEST_F(FlashThroughDialogTest, DeviceChangeInsideTheTransferKeepsAListedLink) {
  Prepare();
  SimOnSerial sim(serial, Module5MachineOddOnce());
  window->onPump = [&] {
    SetPorts({1, 2, 3});
    dialog->OnDeviceChange();
  };
  EXPECT_EQ(dialog->FlashTransfer(), FlashOutcome::Completed);
  EXPECT_EQ(window->pumps, 1);
  EXPECT_EQ(sim.machine.Report().requests, 2u);
  EXPECT_EQ(window->SelectedText(), "COM3  (Serial2)");
  EXPECT_EQ(window->selection, 2);
  EXPECT_EQ(dialog->connectionId, 0x103);
  EXPECT_EQ(window->Status(), " flash: completed");
  EXPECT_TRUE(AllFiveAre(true));
}

TEST_F(FlashThroughDialogTest, LinkClosedInsideTheTransferEndsItWithoutAnswer) {
  clock.stepMsPerRead = 1;
  Prepare();
  SimOnSerial sim(serial, Module5MachineOddOnce());
  window->onPump = [&] {
    SetPorts({1});  // COM3 is gone
    dialog->OnDeviceChange();
  };
  EXPECT_EQ(dialog->FlashTransfer(), FlashOutcome::NoAnswer);
  EXPECT_EQ(sim.machine.Report().requests, 1u);
  EXPECT_EQ(sim.machine.Report().bytesIn, 3u) << "nothing sent without a link";
  EXPECT_EQ(dialog->connectionId, kNoConnection);
  EXPECT_FALSE(serial.open);
  EXPECT_EQ(window->Status(), " flash: no answer");
  EXPECT_EQ(window->progressPos, 0);
  EXPECT_TRUE(AllFiveAre(true));
  dialog.reset();
}

TEST_F(FlashThroughDialogTest, CancelInsideTheTransferEndsTheDialogOnlyAfterIt) {
  Prepare();
  SimOnSerial sim(serial, Module5MachineOddOnce());
  window->onPump = [&] { window->EndDialog(2); };  // Escape, handled by the window layer
  EXPECT_EQ(dialog->FlashTransfer(), FlashOutcome::Completed);
  EXPECT_EQ(window->endResult, 2);
  EXPECT_EQ(sim.BlocksReceived(), 128u);
  dialog->OnDestroy();
  EXPECT_EQ(settings.values[kComSettingName], 0x103);
  EXPECT_FALSE(serial.open);
}

// Every transfer the dialog makes leaves two lines in the record: "started" before its first
// byte, its outcome after it. Both describe the file as it was loaded, over the link open at the
// start, and the outcome is written only once the final state is on screen.
TEST_F(FlashThroughDialogTest, EveryTransferIsRecordedAsItStartsAndEnds) {
  FakeFlashRecord fake;
  record = &fake;
  std::vector<std::string> lastCallBeforeAppend;
  std::vector<std::size_t> bytesSentBeforeAppend;
  fake.onAppend = [&](const FlashRecordEntry&) {
    lastCallBeforeAppend.push_back(window->calls.empty() ? "" : window->calls.back());
    bytesSentBeforeAppend.push_back(serial.sent.size());
  };
  Prepare();
  const std::string loadedFile = MotFile(std::string("Mod5") + "module five");
  // Replaced after the load: the record still describes what was loaded and sent.
  folder.Write("mod5.mot", MotFile(std::string("Mod5") + "a newer version"));
  SimOnSerial sim(serial);
  ASSERT_EQ(dialog->FlashTransfer(), FlashOutcome::Completed);
  ASSERT_EQ(fake.entries.size(), 2u);
  EXPECT_EQ(bytesSentBeforeAppend[0], 0u) << "started is recorded before the first byte";
  EXPECT_EQ(lastCallBeforeAppend[1], "UpdateNow") << "the final state is painted first";

  const FlashRecordEntry& started = fake.entries[0];
  const FlashRecordEntry& done = fake.entries[1];
  EXPECT_EQ(started.outcome, "started");
  EXPECT_EQ(done.outcome, "completed");
  for (const FlashRecordEntry* entry : {&started, &done}) {
    EXPECT_EQ(entry->program, kDialogProgramName);
    EXPECT_EQ(entry->link, "COM3");
    EXPECT_EQ(entry->time, started.time);
    EXPECT_EQ(entry->file, dialog->firmwarePath);
    EXPECT_EQ(entry->target, "Module5");
    EXPECT_EQ(entry->bytes, 32768u);
    EXPECT_EQ(entry->sentSha256, Sha256Hex(*Sha256Of(image.data.data(), 32768)));
    EXPECT_EQ(entry->fileSha256,
              Sha256Hex(*Sha256Of(reinterpret_cast<const std::uint8_t*>(loadedFile.data()),
                                  loadedFile.size())));
  }
  EXPECT_EQ(done.blocksAcknowledged, 128u);
  EXPECT_EQ(done.status, " flash: completed");
  EXPECT_EQ(done.verdict, "SUCCES");
  EXPECT_EQ(done.time.size(), 20u);
}

// A device change during the transfer closes the port; the record still names the link the
// transfer started on, not the "none" left afterwards.
TEST_F(FlashThroughDialogTest, TheRecordNamesTheLinkTheTransferStartedOn) {
  clock.stepMsPerRead = 1;  // the waits on the closed port end
  FakeFlashRecord fake;
  record = &fake;
  Prepare();
  SimOnSerial sim(serial);
  sim.afterFeed = [&] {
    const auto& current = sim.machine.Report().current;
    if (current && current->blocksReceived == 64 && dialog->connectionId != kNoConnection) {
      SetPorts({1});
      dialog->OnDeviceChange();
    }
  };
  EXPECT_NE(dialog->FlashTransfer(), FlashOutcome::Completed);
  ASSERT_EQ(dialog->connectionId, kNoConnection);
  ASSERT_EQ(fake.entries.size(), 2u);
  EXPECT_EQ(fake.entries[0].link, "COM3");
  EXPECT_EQ(fake.entries[1].link, "COM3");
  // The 64th block went in, but its acknowledgement never reached the closed port.
  EXPECT_EQ(fake.entries[1].blocksAcknowledged, 63u);
}

TEST_F(FlashThroughDialogTest, ASilentMachineIsRecordedWithItsWait) {
  FakeFlashRecord fake;
  record = &fake;
  Prepare();
  ASSERT_EQ(dialog->FlashTransfer(), FlashOutcome::NoAnswer);  // nobody answers
  ASSERT_EQ(fake.entries.size(), 2u);
  const FlashRecordEntry& silent = fake.entries[1];
  EXPECT_EQ(silent.outcome, "no-answer");
  EXPECT_EQ(silent.blocksAcknowledged, 0u);
  EXPECT_EQ(silent.verdict, "");
  EXPECT_GE(silent.querySeconds, 20.0);
}

// A record that cannot be written is ignored: the screen shows exactly what it would without one.
TEST_F(FlashThroughDialogTest, FailingRecordChangesNothingOnScreen) {
  std::vector<std::vector<std::string>> screens;
  for (const bool withFailingRecord : {false, true}) {
    FakeFlashRecord fake;
    fake.fail = true;
    record = withFailingRecord ? &fake : nullptr;
    Prepare();
    SimOnSerial sim(serial, Module5Machine());
    EXPECT_EQ(dialog->FlashTransfer(), FlashOutcome::Completed);
    EXPECT_EQ(fake.appends, withFailingRecord ? 2 : 0);
    screens.push_back(window->calls);
  }
  EXPECT_EQ(screens[0], screens[1]);
}

}  // namespace
}  // namespace loadwing::testing::main_dialog_tests
