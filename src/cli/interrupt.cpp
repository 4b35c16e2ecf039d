#include "cli/interrupt.h"

#include <atomic>
#include <mutex>

namespace loadwing::cli {

namespace {

struct FirstRequest {
  std::mutex mutex;
  bool marked = false;
  int kind = 0;
  std::int64_t atMs = 0;
};

FirstRequest& First() {
  static FirstRequest first;
  return first;
}

struct LastWords {
  std::mutex mutex;
  std::function<void()> words;
  // Set once the handler has said them on its way out: the thread still running until the
  // process ends must not say its own as well (a second record line).
  bool ended = false;
};

LastWords& Words() {
  static LastWords words;
  return words;
}

}  // namespace

CancellationToken& InterruptToken() {
  static CancellationToken token;
  return token;
}

InterruptAction NoteInterruptRequest(int kind, std::int64_t nowMs) {
  FirstRequest& first = First();
  const std::lock_guard<std::mutex> lock(first.mutex);
  if (!first.marked) {
    first.marked = true;
    first.kind = kind;
    first.atMs = nowMs;
    InterruptToken().Cancel();
    return InterruptAction::Stop;
  }
  const std::int64_t since = nowMs - first.atMs;
  if (kind == first.kind && since >= 0 && since < kSameRequestMs) return InterruptAction::Same;
  return InterruptAction::ExitNow;
}

void SetLastWords(std::function<void()> words) {
  const std::lock_guard<std::mutex> lock(Words().mutex);
  if (!Words().ended) Words().words = std::move(words);
}

void ClearLastWords() {
  SetLastWords(nullptr);
}

namespace {

void Say(bool final) {
  LastWords& last = Words();
  const std::lock_guard<std::mutex> lock(last.mutex);
  if (final) last.ended = true;
  if (!last.words) return;
  const std::function<void()> words = std::move(last.words);
  last.words = nullptr;
  words();
}

}  // namespace

void SayLastWords() {
  Say(false);
}

void SayFinalWords() {
  Say(true);
}

void ResetInterruptForTesting() {
  {
    const std::lock_guard<std::mutex> lock(First().mutex);
    First().marked = false;
  }
  InterruptToken().Reset();
  const std::lock_guard<std::mutex> lock(Words().mutex);
  Words().words = nullptr;
  Words().ended = false;
}

}  // namespace loadwing::cli
