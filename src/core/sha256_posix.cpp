#include <openssl/evp.h>

#include "core/sha256.h"

namespace loadwing {

std::optional<Sha256Digest> Sha256Of(const std::uint8_t* data, std::size_t n) {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(data, n, digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace loadwing
