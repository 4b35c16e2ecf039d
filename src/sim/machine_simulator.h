#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmware_image.h"

namespace loadwing::sim {

// How the machine answers a request addressed to it.
enum class RequestReply {
  Ready,       // "<code>OK1": the block phase begins
  EraseError,  // "<code>E" followed by eraseDetail
  Unexpected,  // unexpectedAnswer (for the first unexpectedCount requests, then Ready)
  Silent,      // nothing
};

// What the machine answers to the check byte.
enum class VerdictReply {
  Auto,    // "SUCCES" when the check byte matches what it received, "CSFAIL" otherwise
  Text,    // verdictText, whatever the check byte
  Silent,  // nothing
};

struct SimulatorConfig {
  // The controller this machine answers for; none: every controller of the table.
  std::optional<FirmwareTarget> target;
  RequestReply request = RequestReply::Ready;
  // The bytes after the erase-error prefix: the error code and one character (may be shorter).
  std::string eraseDetail = std::string("\x0A") + "X";
  std::string unexpectedAnswer = "?";
  // With RequestReply::Unexpected: 0 answers every request so; K answers the first K so, then
  // ready.
  std::uint32_t unexpectedCount = 0;
  // The block (0-based) answered with refuseByte instead of "1"; no refuseByte: silence there.
  std::optional<std::uint32_t> refuseBlock;
  std::optional<std::uint8_t> refuseByte = static_cast<std::uint8_t>('0');
  // The answer to a frame whose sum is wrong.
  std::uint8_t badSumByte = '0';
  VerdictReply verdict = VerdictReply::Auto;
  std::string verdictText;
  // Line speed for pacing (10 bits a byte); 0: no pacing. Only runners on a real line use it.
  std::uint32_t baudRate = 0;
};

// Why a transfer ended on the machine's side.
enum class TransferEnd {
  Verdict,      // the check byte came and the verdict was answered (or withheld when silent)
  Refused,      // a configured refusal (or silence) at refuseBlock
  BadSum,       // a frame's sum was wrong
  Interrupted,  // Reset() in the middle of it
};

// One transfer as the machine saw it, from its ready answer on.
struct TransferRecord {
  std::string requestCode;
  std::uint32_t blocksExpected = 0;
  std::uint32_t blocksReceived = 0;  // accepted blocks
  bool checkByteReceived = false;
  std::uint8_t checkByte = 0;          // as received
  std::uint8_t computedCheckByte = 0;  // over the bytes received
  bool checkByteMatched = false;
  std::string verdictSent;  // empty when none was sent
  TransferEnd end = TransferEnd::Verdict;
};

enum class SimulatorPhase { AwaitRequest, ReceiveBlocks, AwaitCheckByte };

struct SimulatorReport {
  std::uint64_t bytesIn = 0;
  std::uint64_t bytesOut = 0;
  std::uint32_t requests = 0;             // requests addressed to this machine
  std::uint32_t foreignRequests = 0;      // requests for a controller it is not
  std::vector<TransferRecord> transfers;  // finished transfers, oldest first
  std::optional<TransferRecord> current;  // the transfer in progress
  std::vector<std::uint8_t> image;        // the bytes of the accepted blocks of the latest transfer
  SimulatorPhase phase = SimulatorPhase::AwaitRequest;
};

// The machine's side of the flashing dialogue: fed whatever the host writes, in pieces of any
// size, it returns what the machine answers. Any input is taken; none makes it fail. It computes
// its own sums and check byte, independently of the host's code, so it checks the host.
class MachineSimulator {
 public:
  explicit MachineSimulator(SimulatorConfig config = {});

  std::vector<std::uint8_t> Feed(const std::uint8_t* data, std::size_t n);
  std::vector<std::uint8_t> Feed(std::string_view bytes) {
    return Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  // Drops a partial frame or request and waits for a request again (a host that went away).
  void Reset();

  const SimulatorReport& Report() const { return report_; }
  SimulatorPhase Phase() const { return report_.phase; }

  // Seconds the line takes for n bytes at baud (10 bits a byte); 0 without pacing.
  static double LineSeconds(std::size_t n, std::uint32_t baud);
  // The machine's own check byte: remainder of the bytes, MSB first, divided by 0x19B, computed
  // bit by bit.
  static std::uint8_t CheckByteOf(const std::uint8_t* data, std::size_t n, std::uint8_t start = 0);

 private:
  void TakeRequestByte(std::uint8_t b, std::vector<std::uint8_t>& out);
  void AnswerRequest(std::size_t row, std::vector<std::uint8_t>& out);
  void TakeBlockByte(std::uint8_t b, std::vector<std::uint8_t>& out);
  void TakeCheckByte(std::uint8_t b, std::vector<std::uint8_t>& out);
  void Finish(TransferEnd end);
  static void Append(std::vector<std::uint8_t>& out, std::string_view text);

  SimulatorConfig config_;
  SimulatorReport report_;
  std::string window_;  // the latest request characters, at most 3
  std::vector<std::uint8_t> frame_;
  std::uint32_t unexpectedSent_ = 0;
  std::uint8_t runningCheck_ = 0;
};

}  // namespace loadwing::sim
