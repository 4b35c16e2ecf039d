#include "cli/terminal_text.h"

#include <cstdint>

namespace loadwing::cli {

namespace {

// The length of the valid UTF-8 sequence at the start of text and its code point; 0 when the
// first byte does not begin one (overlong forms, surrogates and values above U+10FFFF
// included, so that no byte escapes the check by being spelt another way).
std::size_t Utf8Sequence(std::string_view text, std::uint32_t& codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  std::uint32_t min = 0;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1Fu;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0Fu;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07u;
    min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(i) & 0x3Fu);
  }
  if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    return 0;
  }
  return length;
}

bool IsControl(std::uint32_t codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

}  // namespace

std::string TerminalText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    std::uint32_t codePoint = 0;
    std::size_t length = Utf8Sequence(text, codePoint);
    if (length != 0 && !IsControl(codePoint)) {
      out.append(text.substr(0, length));
    } else {
      // A control escapes every byte of its encoding; an invalid byte only itself.
      if (length == 0) length = 1;
      for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 0x0F];
      }
    }
    text.remove_prefix(length);
  }
  return out;
}

void Say(std::ostream& err, std::string_view text) {
  err << "loadwing: " << TerminalText(text) << std::endl;
}

}  // namespace loadwing::cli
