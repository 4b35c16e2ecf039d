#include <windows.h>
// after windows.h, which it needs
#include <bcrypt.h>

#include <limits>

#include "core/sha256.h"

namespace loadwing {

namespace {

// The algorithm provider and hash object, closed on every way out.
struct CngHash {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~CngHash() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

bool Succeeded(NTSTATUS status) {
  return status >= 0;
}

}  // namespace

// The calls that exist since Windows 7 (the one-call BCryptHash needs Windows 10).
std::optional<Sha256Digest> Sha256Of(const std::uint8_t* data, std::size_t n) {
  CngHash cng;
  if (!Succeeded(
          BCryptOpenAlgorithmProvider(&cng.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !Succeeded(BCryptCreateHash(cng.algorithm, &cng.hash, nullptr, 0, nullptr, 0, 0))) {
    return std::nullopt;
  }
  // BCryptHashData takes at most 4 GiB at a time.
  constexpr std::size_t kChunk = std::numeric_limits<ULONG>::max();
  std::size_t done = 0;
  do {
    const std::size_t part = n - done < kChunk ? n - done : kChunk;
    if (!Succeeded(BCryptHashData(cng.hash, const_cast<PUCHAR>(data + done),
                                  static_cast<ULONG>(part), 0))) {
      return std::nullopt;
    }
    done += part;
  } while (done < n);
  Sha256Digest digest{};
  if (!Succeeded(BCryptFinishHash(cng.hash, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace loadwing
