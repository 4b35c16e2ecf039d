#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/main_dialog.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_d2xx.h"
#include "fakes/fake_dialog_window.h"
#include "fakes/fake_flash_record.h"
#include "fakes/fake_serial_port.h"
#include "fakes/fake_serial_port_map.h"
#include "fakes/fake_settings_store.h"

namespace loadwing::testing::main_dialog_tests {

// Helpers of the dialog's tests live in a namespace of their own, so that no other test's
// inline class of the same name meets them in the one test binary.

// The machine at the far end of the serial port: answers the target request, acknowledges
// every 257-byte block and gives its verdict on the check byte. Scripted answers to the request
// come first; once they are used up, the ready answer is given.
class FakeMachine {
 public:
  FakeMachine(FakeSerialPort& port, std::string readyAnswer, int blocks)
      : port_(port), readyAnswer_(std::move(readyAnswer)), blocks_(blocks) {
    port_.onWrite = [this](const std::uint8_t* data, std::uint32_t n) { Take(data, n); };
  }
  ~FakeMachine() { port_.onWrite = nullptr; }
  FakeMachine(const FakeMachine&) = delete;
  FakeMachine& operator=(const FakeMachine&) = delete;

  std::deque<std::string> requestAnswers;  // given before the ready answer, one per request
  std::vector<std::string> requests;       // every request received
  int framesReceived = 0;
  bool checkByteReceived = false;
  // Called when a block frame is complete, before it is acknowledged.
  std::function<void()> onFrame;

 private:
  void Take(const std::uint8_t* data, std::uint32_t n) {
    pending_.append(reinterpret_cast<const char*>(data), n);
    if (!ready_) {
      if (pending_.size() < 3) return;
      requests.push_back(pending_.substr(0, 3));
      pending_.clear();
      if (!requestAnswers.empty()) {
        port_.Receive(requestAnswers.front());
        requestAnswers.pop_front();
        return;
      }
      ready_ = true;
      port_.Receive(readyAnswer_);
      return;
    }
    if (framesReceived < blocks_) {
      if (pending_.size() < 257) return;
      pending_.clear();
      ++framesReceived;
      if (onFrame) onFrame();
      port_.Receive("1");
      return;
    }
    pending_.clear();
    checkByteReceived = true;
    port_.Receive("SUCCES");
  }

  FakeSerialPort& port_;
  std::string readyAnswer_;
  int blocks_;
  bool ready_ = false;
  std::string pending_;
};

// A clock that moves one millisecond each time it is read, for waits that read nothing else
// that would move the fake clock (reads with no link open).
class SteppingClock final : public Clock {
 public:
  explicit SteppingClock(FakeClock& clock) : clock_(clock) {}
  std::int64_t Now() override {
    clock_.AdvanceMs(1);
    return clock_.Now();
  }

 private:
  FakeClock& clock_;
};

// Firmware files written by the tests themselves.
inline std::string HexByte(unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

// One S-record: count, address bytes, data, and the checksum 0xFF minus the 8-bit sum.
inline std::string SRecord(char type, const std::vector<std::uint8_t>& address,
                           const std::string& data) {
  const unsigned count = static_cast<unsigned>(address.size() + data.size() + 1);
  unsigned sum = count;
  std::string text = std::string("S") + type + HexByte(count);
  for (std::uint8_t byte : address) {
    sum += byte;
    text += HexByte(byte);
  }
  for (char c : data) {
    sum += static_cast<std::uint8_t>(c);
    text += HexByte(static_cast<std::uint8_t>(c));
  }
  return text + HexByte(0xFF - (sum & 0xFF)) + "\r\n";
}

// An S-record file: a header, the payload in S2 records from 0x010000 on, and an S8 record.
inline std::string MotFile(const std::string& payload, bool withEnd = true) {
  constexpr std::size_t kPerRecord = 32;
  constexpr std::uint32_t kBase = 0x010000;
  std::string text = SRecord('0', {0, 0}, "HDR");
  for (std::size_t at = 0; at < payload.size(); at += kPerRecord) {
    const std::uint32_t address = kBase + static_cast<std::uint32_t>(at);
    text += SRecord('2',
                    {static_cast<std::uint8_t>(address >> 16),
                     static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)},
                    payload.substr(at, kPerRecord));
  }
  if (withEnd) text += SRecord('8', {0x01, 0x00, 0x00}, "");
  return text;
}

// An Intel HEX file: the payload in data records from address 0, and the end record.
inline std::string HexFile(const std::string& payload, bool withEnd = true) {
  constexpr std::size_t kPerRecord = 16;
  std::string text;
  for (std::size_t at = 0; at < payload.size(); at += kPerRecord) {
    const std::string data = payload.substr(at, kPerRecord);
    unsigned sum = static_cast<unsigned>(data.size()) + ((at >> 8) & 0xFF) + (at & 0xFF);
    text += ":" + HexByte(static_cast<unsigned>(data.size())) + HexByte((at >> 8) & 0xFF) +
            HexByte(at & 0xFF) + "00";
    for (char c : data) {
      sum += static_cast<std::uint8_t>(c);
      text += HexByte(static_cast<std::uint8_t>(c));
    }
    text += HexByte((0x100 - (sum & 0xFF)) & 0xFF) + "\r\n";
  }
  if (withEnd) text += ":00000001FF\r\n";
  return text;
}

// The text with the checksum of the first record that begins with start put off by one.
inline std::string WithBadChecksum(std::string text, const std::string& start) {
  const std::size_t record = text.find(start);
  const std::size_t end = text.find("\r\n", record);
  char& last = text[end - 1];
  last = last == '0' ? '1' : '0';
  return text;
}

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("loadwing_") + info->test_suite_name() + "_" + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Writes a file and returns its full path.
  std::string Write(const std::string& fileName, const std::string& content) const {
    const std::filesystem::path file = path_ / fileName;
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file.string();
  }
  std::string PathOf(const std::string& fileName) const { return (path_ / fileName).string(); }

 private:
  std::filesystem::path path_;
};

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
        MainDialogPlatform{*window, serial, d2xx, portMap, settings, *platformClock, image, record});
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
  Clock* platformClock = &clock;
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
