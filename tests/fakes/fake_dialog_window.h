#pragma once
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog_ids.h"
#include "app/dialog_window.h"

namespace loadwing::testing {

// A dialog window that records everything asked of it. Each call is also logged as one line of
// text ("SetItemText 1001  not connected", "ListAdd COM1", "StartTimer 1 50", ...), so tests can
// check the order of a handler's steps. The controls start as the dialog template leaves them:
// all enabled except "start transfer" (1027).
class FakeDialogWindow final : public DialogWindow {
 public:
  FakeDialogWindow() {
    for (int id : {IDC_SELECT, IDC_CLOSE, IDC_CONNECT, IDC_PORTLIST}) enabled[id] = true;
    enabled[IDC_START] = false;
  }

  void SetItemText(int id, const std::string& text) override {
    Log("SetItemText " + std::to_string(id) + " " + text);
    texts[id] = text;
  }
  std::string GetItemText(int id) override {
    Log("GetItemText " + std::to_string(id));
    const auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
  }
  void EnableItem(int id, bool enable) override {
    Log("EnableItem " + std::to_string(id) + (enable ? " on" : " off"));
    enabled[id] = enable;
  }
  void UpdateNow() override {
    Log("UpdateNow");
    ++repaints;
  }
  void SetWindowIcons() override {
    Log("SetWindowIcons");
    ++windowIconSets;
  }
  void SetConnectIcon(int iconId) override {
    Log("SetConnectIcon " + std::to_string(iconId));
    connectIcon = iconId;
  }

  void SetProgressRange(std::uint16_t max) override {
    Log("SetProgressRange " + std::to_string(max));
    progressMax = max;
  }
  void SetProgressPos(std::int32_t pos) override {
    progressPos = pos;  // not logged: a transfer sets it thousands of times
    ++progressPosCalls;
  }

  int ListAdd(const std::string& text) override {
    Log("ListAdd " + text);
    entries.push_back(text);
    return static_cast<int>(entries.size()) - 1;
  }
  // Like a list box: deleting the selected entry leaves none selected, deleting one above it
  // moves the selection up with its entry.
  void ListDelete(int index) override {
    Log("ListDelete " + std::to_string(index));
    if (index < 0 || index >= static_cast<int>(entries.size())) return;
    entries.erase(entries.begin() + index);
    if (index == selection)
      selection = -1;
    else if (index < selection)
      --selection;
  }
  int ListCount() override { return static_cast<int>(entries.size()); }
  std::string ListText(int index) override {
    if (index < 0 || index >= static_cast<int>(entries.size())) return {};
    return entries[index];
  }
  int ListSelection() override { return selection; }
  void ListSelect(int index) override {
    Log("ListSelect " + std::to_string(index));
    selection = (index >= 0 && index < static_cast<int>(entries.size())) ? index : -1;
  }
  int ListFindExact(const std::string& text) override {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (SameIgnoringCase(entries[i], text)) return static_cast<int>(i);
    }
    return -1;
  }

  std::uintptr_t StartTimer(std::uintptr_t id, unsigned milliseconds) override {
    Log("StartTimer " + std::to_string(id) + " " + std::to_string(milliseconds));
    timersStarted.push_back({id, milliseconds});
    return timerCreationFails ? 0 : id;
  }
  void KillTimer(std::uintptr_t id) override {
    Log("KillTimer " + std::to_string(id));
    timersKilled.push_back(id);
  }

  void PumpMessages() override {
    Log("PumpMessages");
    ++pumps;
    if (onPump) onPump();
  }

  // Scripted answers of the Open dialog, one per call; an empty script cancels.
  std::optional<std::string> ChooseFirmwareFile() override {
    Log("ChooseFirmwareFile");
    if (fileChoices.empty()) return std::nullopt;
    std::optional<std::string> choice = fileChoices.front();
    fileChoices.pop_front();
    return choice;
  }

  void EndDialog(int result) override {
    Log("EndDialog " + std::to_string(result));
    endResult = result;
  }

  // Shortcuts for assertions.
  std::string Status() const { return TextOf(IDC_STATUS); }
  std::string Path() const { return TextOf(IDC_PATH); }
  bool IsEnabled(int id) const {
    const auto it = enabled.find(id);
    return it != enabled.end() && it->second;
  }
  std::string SelectedText() const {
    return selection >= 0 && selection < static_cast<int>(entries.size()) ? entries[selection]
                                                                          : std::string();
  }
  // The logged calls that begin with prefix, in order.
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& call : calls) {
      if (call.compare(0, prefix.size(), prefix) == 0) found.push_back(call);
    }
    return found;
  }
  // Every text the status line was given, in order.
  std::vector<std::string> StatusHistory() const {
    const std::string prefix = "SetItemText " + std::to_string(IDC_STATUS) + " ";
    std::vector<std::string> history;
    for (const std::string& call : CallsStartingWith(prefix)) {
      history.push_back(call.substr(prefix.size()));
    }
    return history;
  }

  std::map<int, std::string> texts;
  std::map<int, bool> enabled;
  std::vector<std::string> calls;
  std::vector<std::string> entries;
  int selection = -1;
  int connectIcon = 0;
  int windowIconSets = 0;
  int repaints = 0;
  std::uint16_t progressMax = 100;
  std::int32_t progressPos = 0;
  int progressPosCalls = 0;
  struct Timer {
    std::uintptr_t id;
    unsigned milliseconds;
  };
  std::vector<Timer> timersStarted;
  std::vector<std::uintptr_t> timersKilled;
  bool timerCreationFails = false;
  std::deque<std::optional<std::string>> fileChoices;
  std::optional<int> endResult;
  int pumps = 0;
  std::function<void()> onPump;

 private:
  void Log(std::string call) { calls.push_back(std::move(call)); }
  std::string TextOf(int id) const {
    const auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
  }
  static bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) ==
                    std::tolower(static_cast<unsigned char>(y));
           });
  }
};

}  // namespace loadwing::testing
