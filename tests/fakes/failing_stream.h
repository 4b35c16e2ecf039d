#pragma once
#include <algorithm>
#include <cstddef>
#include <ios>
#include <istream>
#include <streambuf>
#include <string>

namespace loadwing::testing {

// A stream buffer that hands out text a few characters at a time and fails once failAt
// characters have been read: by throwing, as the standard library's file buffer does on a read
// error, or by reporting the end early.
class FailingStreamBuffer final : public std::streambuf {
 public:
  enum class Way { Throw, EndEarly };

  FailingStreamBuffer(std::string text, std::size_t failAt, Way way)
      : text_(std::move(text)), failAt_(failAt), way_(way) {}

  int underflows() const { return underflows_; }

 protected:
  int_type underflow() override {
    ++underflows_;
    if (pos_ >= failAt_) {
      if (way_ == Way::Throw) throw std::ios_base::failure("read error");
      return traits_type::eof();
    }
    if (pos_ >= text_.size()) return traits_type::eof();
    const std::size_t n = std::min({kChunk, failAt_ - pos_, text_.size() - pos_});
    char* start = text_.data() + pos_;
    setg(start, start, start + n);
    pos_ += n;
    return traits_type::to_int_type(*start);
  }

 private:
  static constexpr std::size_t kChunk = 5;
  std::string text_;
  std::size_t failAt_;
  Way way_;
  std::size_t pos_ = 0;
  int underflows_ = 0;
};

// An input stream over a FailingStreamBuffer of its own.
class FailingStream : public std::istream {
 public:
  FailingStream(std::string text, std::size_t failAt, FailingStreamBuffer::Way way)
      : std::istream(nullptr), buffer_(std::move(text), failAt, way) {
    rdbuf(&buffer_);
  }

 private:
  FailingStreamBuffer buffer_;
};

}  // namespace loadwing::testing
