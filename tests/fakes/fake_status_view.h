#pragma once
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/status_view.h"

namespace loadwing::testing {

// Records what the core reports: the status text, each time it was shown (with whether it was
// repainted at once), the progress bar and the busy state.
class FakeStatusView final : public StatusView {
 public:
  void SetStatusText(std::string text) override { statusText = std::move(text); }
  const std::string& StatusText() const override { return statusText; }
  void RefreshFields() override {
    shown.push_back(statusText);
    if (onRefresh) onRefresh();
  }
  void UpdateNow() override { ++repaints; }
  void SetProgressRange(std::uint32_t max) override {
    progressMax = static_cast<std::uint16_t>(max & 0xFFFFu);
    ++rangeCalls;
  }
  void SetProgressPos(std::int32_t pos) override {
    progressPos = pos;
    positions.push_back(pos);
  }
  void EnableControls(bool enable) override {
    controlsEnabled = enable;
    enableCalls.push_back(enable);
  }
  void PumpMessages() override {
    ++pumps;
    if (onPump) onPump();
  }

  std::string statusText;
  // Which of texts was shown last: its index in texts, or -1 when none of them was shown.
  int LastShownOf(std::initializer_list<const char*> texts) const {
    for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
      int index = 0;
      for (const char* text : texts) {
        if (*it == text) return index;
        ++index;
      }
    }
    return -1;
  }

  std::vector<std::string> shown;  // the text of every RefreshFields, in order
  int repaints = 0;
  std::uint16_t progressMax = 100;
  int rangeCalls = 0;
  std::int32_t progressPos = 0;
  std::vector<std::int32_t> positions;
  bool controlsEnabled = true;
  std::vector<bool> enableCalls;
  int pumps = 0;
  std::function<void()> onPump;
  std::function<void()> onRefresh;  // runs as each text is shown
};

}  // namespace loadwing::testing
