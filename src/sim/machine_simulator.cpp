#include "sim/machine_simulator.h"

#include <array>
#include <utility>

namespace loadwing::sim {

namespace {

// The machine's own list of controllers: request code, the value naming it, bytes it takes.
struct Controller {
  const char* code;
  std::uint8_t target;
  std::uint32_t imageSize;
};

constexpr std::array<Controller, 11> kControllers = {{
    {"128", 128, 131072},
    {"064", 64, 65536},
    {"MO0", 10, 32768},
    {"MO1", 11, 32768},
    {"MO2", 12, 32768},
    {"MO3", 13, 32768},
    {"MO4", 14, 32768},
    {"MO5", 15, 32768},
    {"MO6", 16, 32768},
    {"MO7", 17, 32768},
    {"CAN", 20, 32768},
}};

constexpr std::size_t kFrameData = 256;
constexpr std::size_t kFrameSize = kFrameData + 1;

}  // namespace

MachineSimulator::MachineSimulator(SimulatorConfig config) : config_(std::move(config)) {
  frame_.reserve(kFrameSize);
}

double MachineSimulator::LineSeconds(std::size_t n, std::uint32_t baud) {
  if (baud == 0) return 0.0;
  return static_cast<double>(n) * 10.0 / static_cast<double>(baud);
}

std::uint8_t MachineSimulator::CheckByteOf(const std::uint8_t* data, std::size_t n,
                                           std::uint8_t start) {
  unsigned c = start;
  for (std::size_t i = 0; i < n; ++i) {
    // Shift the remainder by one byte (long division, bit by bit), then bring the byte in.
    for (int bit = 0; bit < 8; ++bit) {
      c <<= 1;
      if (c & 0x100u) c ^= 0x19Bu;
    }
    c ^= data[i];
  }
  return static_cast<std::uint8_t>(c);
}

void MachineSimulator::Append(std::vector<std::uint8_t>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}

std::vector<std::uint8_t> MachineSimulator::Feed(const std::uint8_t* data, std::size_t n) {
  std::vector<std::uint8_t> out;
  if (data == nullptr) return out;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = data[i];
    switch (report_.phase) {
      case SimulatorPhase::AwaitRequest:
        TakeRequestByte(b, out);
        break;
      case SimulatorPhase::ReceiveBlocks:
        TakeBlockByte(b, out);
        break;
      case SimulatorPhase::AwaitCheckByte:
        TakeCheckByte(b, out);
        break;
    }
  }
  report_.bytesIn += n;
  report_.bytesOut += out.size();
  return out;
}

void MachineSimulator::TakeRequestByte(std::uint8_t b, std::vector<std::uint8_t>& out) {
  window_.push_back(static_cast<char>(b));
  if (window_.size() > 3) window_.erase(0, window_.size() - 3);
  if (window_.size() < 3) return;
  for (std::size_t row = 0; row < kControllers.size(); ++row) {
    if (window_ == kControllers[row].code) {
      window_.clear();
      AnswerRequest(row, out);
      return;
    }
  }
}

void MachineSimulator::AnswerRequest(std::size_t row, std::vector<std::uint8_t>& out) {
  const Controller& controller = kControllers[row];
  if (config_.target && static_cast<std::uint8_t>(*config_.target) != controller.target) {
    ++report_.foreignRequests;  // another controller is addressed: this one keeps quiet
    return;
  }
  ++report_.requests;
  const std::string code = controller.code;
  RequestReply reply = config_.request;
  if (reply == RequestReply::Unexpected && config_.unexpectedCount != 0 &&
      unexpectedSent_ >= config_.unexpectedCount) {
    reply = RequestReply::Ready;
  }
  switch (reply) {
    case RequestReply::Silent:
      return;
    case RequestReply::EraseError:
      Append(out, code + "E");
      Append(out, config_.eraseDetail);
      return;
    case RequestReply::Unexpected:
      ++unexpectedSent_;
      Append(out, config_.unexpectedAnswer);
      return;
    case RequestReply::Ready:
      break;
  }
  Append(out, code + "OK1");
  TransferRecord record;
  record.requestCode = code;
  record.blocksExpected = controller.imageSize / kFrameData;
  report_.current = record;
  report_.image.clear();
  report_.image.reserve(controller.imageSize);
  frame_.clear();
  runningCheck_ = 0;
  report_.phase = SimulatorPhase::ReceiveBlocks;
}

void MachineSimulator::TakeBlockByte(std::uint8_t b, std::vector<std::uint8_t>& out) {
  frame_.push_back(b);
  if (frame_.size() < kFrameSize) return;
  TransferRecord& record = *report_.current;
  const std::uint32_t index = record.blocksReceived;
  unsigned sum = 0;
  for (std::size_t i = 0; i < kFrameData; ++i) sum += frame_[i];
  if (config_.refuseBlock && *config_.refuseBlock == index) {
    if (config_.refuseByte) out.push_back(*config_.refuseByte);
    Finish(TransferEnd::Refused);
    return;
  }
  if ((sum & 0xFFu) != frame_[kFrameData]) {
    out.push_back(config_.badSumByte);
    Finish(TransferEnd::BadSum);
    return;
  }
  report_.image.insert(report_.image.end(), frame_.begin(), frame_.begin() + kFrameData);
  runningCheck_ = CheckByteOf(frame_.data(), kFrameData, runningCheck_);
  ++record.blocksReceived;
  frame_.clear();
  out.push_back('1');
  if (record.blocksReceived == record.blocksExpected)
    report_.phase = SimulatorPhase::AwaitCheckByte;
}

void MachineSimulator::TakeCheckByte(std::uint8_t b, std::vector<std::uint8_t>& out) {
  TransferRecord& record = *report_.current;
  record.checkByteReceived = true;
  record.checkByte = b;
  record.computedCheckByte = runningCheck_;
  record.checkByteMatched = b == runningCheck_;
  std::string verdict;
  switch (config_.verdict) {
    case VerdictReply::Auto:
      verdict = record.checkByteMatched ? "SUCCES" : "CSFAIL";
      break;
    case VerdictReply::Text:
      verdict = config_.verdictText;
      break;
    case VerdictReply::Silent:
      break;
  }
  Append(out, verdict);
  record.verdictSent = verdict;
  Finish(TransferEnd::Verdict);
}

void MachineSimulator::Finish(TransferEnd end) {
  if (report_.current) {
    report_.current->end = end;
    report_.transfers.push_back(std::move(*report_.current));
    report_.current.reset();
  }
  frame_.clear();
  window_.clear();
  report_.phase = SimulatorPhase::AwaitRequest;
}

void MachineSimulator::Reset() {
  if (report_.phase != SimulatorPhase::AwaitRequest) Finish(TransferEnd::Interrupted);
  window_.clear();
  frame_.clear();
}

}  // namespace loadwing::sim
