#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace loadwing {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The SHA-256 of n bytes, computed by the platform's cryptographic library (CNG on Windows,
// OpenSSL's libcrypto elsewhere); nullopt when that library refuses.
[[nodiscard]] std::optional<Sha256Digest> Sha256Of(const std::uint8_t* data, std::size_t n);

// 64 lower-case hexadecimal digits.
[[nodiscard]] std::string Sha256Hex(const Sha256Digest& digest);

// True when text is 64 hexadecimal digits, in either letter case.
[[nodiscard]] bool IsSha256Text(std::string_view text);
// True when two digests written in hexadecimal are the same, whatever the letter case.
[[nodiscard]] bool SameSha256Text(std::string_view a, std::string_view b);

}  // namespace loadwing
