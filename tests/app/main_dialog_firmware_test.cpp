#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_dialog_fixture.h"

namespace loadwing::testing::main_dialog_tests {
namespace {

const std::string kInvalid = " load firmware: invalid firmware file";

struct LoadCase {
  const char* name;
  std::string fileName;
  std::string content;
  std::string status;
  FirmwareTarget target;
  // Failures name the case rather than dump its bytes.
  friend void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }
};

class LoadTest : public MainDialogTest, public ::testing::WithParamInterface<LoadCase> {
 protected:
  TempFolder folder;
};

TEST_P(LoadTest, ReportsTheOutcomeAndEnablesStartOnlyForARecognisedTarget) {
  const LoadCase& c = GetParam();
  Start();
  const std::string path = folder.Write(c.fileName, c.content);
  window->fileChoices.push_back(path);
  window->calls.clear();
  dialog->OnSelectFirmware();

  EXPECT_EQ(window->Status(), c.status);
  EXPECT_EQ(image.target, c.target);
  EXPECT_EQ(window->IsEnabled(IDC_START), c.target != FirmwareTarget::None);
  EXPECT_EQ(window->Path(), path);
  EXPECT_EQ(dialog->firmwarePath, path);
  // The path is shown and painted before the file is read; the outcome comes after.
  const auto& calls = window->calls;
  const auto shown = std::find(calls.begin(), calls.end(), "SetItemText 1002 " + path);
  ASSERT_NE(shown, calls.end());
  ASSERT_NE(shown + 1, calls.end());
  EXPECT_EQ(*(shown + 1), "UpdateNow");
  EXPECT_EQ(window->StatusHistory().back(), c.status);
}

const std::string kModule5 = MotFile(std::string("Mod5") + "firmware of module five");

INSTANTIATE_TEST_SUITE_P(
    MainDialog, LoadTest,
    ::testing::Values(
        LoadCase{"Module5", "mod5.mot", kModule5, " firmware for module 5 loaded",
                 FirmwareTarget::Module5},
        LoadCase{"WebCUpperCaseExtension", "web.MOT", MotFile("WebC-web-controller"),
                 " firmware for WebC loaded", FirmwareTarget::WebC},
        LoadCase{"CanMixedCaseExtension", "can.Mot", MotFile("CANx"), " firmware CAN module loaded",
                 FirmwareTarget::CanModule},
        LoadCase{"IntelHex", "main.hex", HexFile("WebC is no marker in a hex file"),
                 " firmware for Fanfolder/Crossfolder loaded",
                 FirmwareTarget::FanfolderCrossfolder},
        LoadCase{"NoMarker", "lower.mot", MotFile("mod5"), kInvalid, FirmwareTarget::None},
        LoadCase{"SRecordChecksum", "bad.mot", WithBadChecksum(kModule5, "S2"),
                 " load firmware: can't open file, error 6", FirmwareTarget::None},
        LoadCase{"SRecordWithoutEnd", "open.mot", MotFile("Mod5", false),
                 " load firmware: can't open file, error 5", FirmwareTarget::None},
        LoadCase{"EmptySRecordFile", "empty.mot", "", " load firmware: can't open file, error 5",
                 FirmwareTarget::None},
        LoadCase{"IntelHexChecksum", "bad.hex", WithBadChecksum(HexFile("0123456789"), ":"),
                 " load firmware: read error", FirmwareTarget::None},
        LoadCase{"IntelHexWithoutEnd", "open.hex", HexFile("0123456789", false),
                 " load firmware: unexpected end of file", FirmwareTarget::None},
        LoadCase{"SRecordsNamedS19", "mod5.s19", kModule5, " load firmware: unexpected end of file",
                 FirmwareTarget::None}),
    [](const ::testing::TestParamInfo<LoadCase>& param) { return param.param.name; });

TEST_F(MainDialogTest, LoadStepsRunInOrder) {
  TempFolder folder;
  Start();
  const std::string path = folder.Write("mod5.mot", kModule5);
  window->fileChoices.push_back(path);
  window->calls.clear();
  dialog->OnSelectFirmware();
  const std::vector<std::string> expected = {
      "EnableItem 1027 off",       // 1
      "GetItemText 1001",          // 2: read back, then the status line is cleared
      "GetItemText 1002",          //
      "SetItemText 1001 ",         //
      "SetItemText 1002 ",         //
      "ChooseFirmwareFile",        // 3
      "SetItemText 1001 ",         // 6: the path shows at once
      "SetItemText 1002 " + path,  //
      "UpdateNow",                 //
      "SetItemText 1001  firmware for module 5 loaded",  // 7
      "SetItemText 1002 " + path,                        //
      "EnableItem 1027 on",                              // 8
  };
  EXPECT_EQ(window->calls, expected);
}

TEST_F(MainDialogTest, MissingFileCannotBeOpened) {
  TempFolder folder;
  Start();
  for (const std::string name : {"missing.mot", "missing.hex"}) {
    window->fileChoices.push_back(folder.PathOf(name));
    dialog->OnSelectFirmware();
    EXPECT_EQ(window->Status(), " load firmware: can't open file, error 1") << name;
    EXPECT_FALSE(window->IsEnabled(IDC_START)) << name;
  }
}

TEST_F(MainDialogTest, OversizedSRecordFileIsRefused) {
  TempFolder folder;
  Start();
  window->fileChoices.push_back(folder.Write("big.mot", std::string(401409, 'x')));
  dialog->OnSelectFirmware();
  EXPECT_EQ(window->Status(), " load firmware: file is too big");
  EXPECT_EQ(image.target, FirmwareTarget::None);
  EXPECT_FALSE(window->IsEnabled(IDC_START));
}

TEST_F(MainDialogTest, CancelWithNothingLoadedReportsAnInvalidFile) {
  Start();
  dialog->OnSelectFirmware();  // the script is empty: the dialog is cancelled
  EXPECT_EQ(window->Status(), kInvalid);
  EXPECT_FALSE(window->IsEnabled(IDC_START));
  EXPECT_EQ(window->Path(), "");
  EXPECT_EQ(image.target, FirmwareTarget::None);
}

TEST_F(MainDialogTest, CancelAfterAGoodLoadKeepsIt) {
  TempFolder folder;
  Start();
  const std::string path = folder.Write("mod5.mot", kModule5);
  window->fileChoices = {path, std::nullopt};
  dialog->OnSelectFirmware();
  ASSERT_TRUE(window->IsEnabled(IDC_START));
  window->calls.clear();
  dialog->OnSelectFirmware();
  EXPECT_EQ(window->Status(), "");
  EXPECT_EQ(window->calls.front(), "EnableItem 1027 off");
  EXPECT_TRUE(window->IsEnabled(IDC_START));
  EXPECT_EQ(window->Path(), path);
  EXPECT_EQ(image.target, FirmwareTarget::Module5);
  EXPECT_EQ(std::memcmp(image.data.data(), "Mod5", 4), 0);
}

TEST_F(MainDialogTest, FailedLoadAfterAGoodOneGivesItUp) {
  TempFolder folder;
  Start();
  const std::string good = folder.Write("mod5.mot", kModule5);
  const std::string bad = folder.Write("bad.hex", HexFile("0123", false));
  window->fileChoices = {good, bad};
  dialog->OnSelectFirmware();
  ASSERT_EQ(image.target, FirmwareTarget::Module5);
  dialog->OnSelectFirmware();
  EXPECT_EQ(image.target, FirmwareTarget::None);
  EXPECT_FALSE(window->IsEnabled(IDC_START));
  EXPECT_EQ(window->Path(), bad);
  EXPECT_EQ(window->Status(), " load firmware: unexpected end of file");
  // A cancel now finds nothing loaded.
  dialog->OnSelectFirmware();
  EXPECT_EQ(window->Status(), kInvalid);
  EXPECT_EQ(window->Path(), bad);
}

TEST_F(MainDialogTest, LoadingDoesNotDependOnTheLink) {
  TempFolder folder;
  SetPorts({3});
  Start();
  Choose("COM3");
  window->fileChoices.push_back(folder.Write("mod5.mot", kModule5));
  dialog->OnSelectFirmware();
  EXPECT_EQ(window->Status(), " firmware for module 5 loaded");
  EXPECT_EQ(dialog->connectionId, 0x103);
  EXPECT_TRUE(serial.open);
}

}  // namespace
}  // namespace loadwing::testing::main_dialog_tests
