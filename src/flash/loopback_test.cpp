#include "flash/loopback_test.h"

#include <algorithm>
#include <array>

#include "flash/block_frame.h"
#include "flash/flash_transfer.h"

namespace loadwing {

namespace {

constexpr std::size_t kRequestCodeSize = sizeof(FlashTargetInfo::requestCode);
// However slow the adapter, what is coming is there within this much beyond twice its line time.
constexpr std::int64_t kEchoMarginUs = 500'000;
constexpr int kLatencyProbes = 5;
constexpr std::uint8_t kProbeByte = 0x55;

// Every controller's request code, from the transfer's own table.
std::vector<std::array<std::uint8_t, kRequestCodeSize>> RequestCodes() {
  std::vector<std::array<std::uint8_t, kRequestCodeSize>> codes;
  for (int value = 0; value <= 0xFF; ++value) {
    const FlashTargetInfo* info = FindFlashTargetInfo(static_cast<FirmwareTarget>(value));
    if (info == nullptr) continue;
    std::array<std::uint8_t, kRequestCodeSize> code{};
    for (std::size_t i = 0; i < kRequestCodeSize; ++i) {
      code[i] = static_cast<std::uint8_t>(info->requestCode[i]);
    }
    codes.push_back(code);
  }
  return codes;
}

struct Echo {
  std::vector<std::uint8_t> bytes;
  std::int64_t lastByteUs = 0;
};

// Reads what comes back of n bytes whose sending began at startUs.
Echo Collect(LinkIo& link, FineClock& clock, std::uint32_t n, std::int64_t startUs) {
  Echo echo;
  echo.bytes.resize(n);
  std::uint32_t got = 0;
  const std::int64_t deadline = startUs + 2 * LineMicros(n) + kEchoMarginUs;
  while (got < n && clock.NowMicros() < deadline && !link.Cancelled()) {
    const std::uint32_t k = std::min(link.ReadOnce(echo.bytes.data() + got, n - got), n - got);
    if (k > 0) echo.lastByteUs = clock.NowMicros();
    got += k;
  }
  echo.bytes.resize(got);
  return echo;
}

// Sends one pattern and checks its echo; false (with report's verdict set) when it failed.
bool Check(RequestFreeSender& sender, LinkIo& link, FineClock& clock, const char* name,
           const std::vector<std::uint8_t>& bytes, LoopbackReport& report, Echo& echo) {
  const auto n = static_cast<std::uint32_t>(bytes.size());
  report.pattern = name;
  report.sent = n;
  const std::int64_t start = clock.NowMicros();
  if (!sender.Send(bytes)) {
    report.verdict = LoopbackVerdict::WriteFailed;
    return false;
  }
  echo = Collect(link, clock, n, start);
  echo.lastByteUs -= start;
  report.received = static_cast<std::uint32_t>(echo.bytes.size());
  const auto differs = std::mismatch(echo.bytes.begin(), echo.bytes.end(), bytes.begin());
  report.offset = static_cast<std::uint32_t>(differs.first - echo.bytes.begin());
  if (differs.first != echo.bytes.end()) {
    report.expected = *differs.second;
    report.got = *differs.first;
  }
  if (report.received == 0) {
    report.verdict = LoopbackVerdict::NothingBack;
  } else if (report.received < n) {
    report.verdict = LoopbackVerdict::BytesLost;
  } else if (differs.first != echo.bytes.end()) {
    report.verdict = LoopbackVerdict::BytesChanged;
  } else {
    return true;
  }
  return false;
}

}  // namespace

std::int64_t BlockEstimateUs(const LoopbackReport& report) {
  return LineMicros(kBlockFrameSize) + report.drainUs + report.latencyUs;
}

bool RequestFreeSender::WouldRequest(const std::vector<std::uint8_t>& bytes) const {
  std::vector<std::uint8_t> stream = tail_;
  stream.insert(stream.end(), bytes.begin(), bytes.end());
  for (const auto& code : RequestCodes()) {
    if (std::search(stream.begin(), stream.end(), code.begin(), code.end()) != stream.end()) {
      return true;
    }
  }
  return false;
}

bool RequestFreeSender::Send(const std::vector<std::uint8_t>& bytes) {
  if (WouldRequest(bytes)) {
    refused_ = true;
    return false;
  }
  tail_.insert(tail_.end(), bytes.begin(), bytes.end());
  if (tail_.size() >= kRequestCodeSize) {
    tail_.erase(tail_.begin(), tail_.end() - (kRequestCodeSize - 1));
  }
  return link_.WriteBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

LoopbackReport RunLoopbackTest(LinkIo& link, FineClock& clock) {
  LoopbackReport report;
  RequestFreeSender sender(link);
  link.DrainInput();
  Echo echo;

  std::vector<std::int64_t> delays;
  for (int i = 0; i < kLatencyProbes; ++i) {
    if (!Check(sender, link, clock, "single byte", {kProbeByte}, report, echo)) return report;
    delays.push_back(std::max<std::int64_t>(0, echo.lastByteUs - LineMicros(1)));
  }
  std::sort(delays.begin(), delays.end());
  report.latencyUs = delays[delays.size() / 2];

  std::vector<std::uint8_t> every(256);
  for (std::size_t i = 0; i < every.size(); ++i) every[i] = static_cast<std::uint8_t>(i);
  if (!Check(sender, link, clock, "every byte value", every, report, echo)) return report;

  // A frame as a transfer sends it: 256 bytes and their sum, counting down so that no request
  // code can appear.
  std::array<std::uint8_t, kBlockDataSize> data{};
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xFF - i);
  BlockFrame frame;
  ImageCheckByte check;
  frame.Build(data.data(), check);
  if (!Check(sender, link, clock, "frame", {frame.bytes.begin(), frame.bytes.end()}, report,
             echo)) {
    return report;
  }
  report.roundTripUs = echo.lastByteUs;

  // A burst of a frame's size in varied bytes with the top bit set: none is a letter or digit.
  std::vector<std::uint8_t> burst(kBlockFrameSize);
  std::uint32_t x = 0x2545F491u;
  for (std::uint8_t& b : burst) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(0x80 | (x >> 25));
  }
  if (!Check(sender, link, clock, "burst", burst, report, echo)) return report;
  const std::int64_t burstUs = std::max<std::int64_t>(1, echo.lastByteUs);
  report.bytesPerSecond = static_cast<double>(burst.size()) * 1e6 / static_cast<double>(burstUs);
  report.fasterThanLine = burstUs < LineMicros(kBlockFrameSize) * 8 / 10;

  const std::int64_t drainStart = clock.NowMicros();
  link.DrainInput();
  report.drainUs = clock.NowMicros() - drainStart;

  report.pattern.clear();
  report.sent = report.received = 0;
  report.verdict = report.latencyUs > kLatencyBudgetUs ? LoopbackVerdict::SlowDelivery
                                                       : LoopbackVerdict::Carries;
  return report;
}

}  // namespace loadwing
