#pragma once
// SHA-256 (FIPS 180-4) of our own: recordings name bulk data by its digest,
// and the Windows build links no library that would bring one.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orvel {

inline constexpr std::size_t kSha256DigestSize = 32;
using Sha256Digest = std::array<std::uint8_t, kSha256DigestSize>;

class Sha256 {
 public:
  Sha256();
  void Add(std::span<const std::uint8_t> bytes);
  // The digest of everything added; the object is spent afterwards.
  Sha256Digest Finish();

 private:
  static constexpr std::size_t kBlockSize = 64;
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_{};
  std::array<std::uint8_t, kBlockSize> pending_{};
  std::size_t pendingSize_ = 0;
  std::uint64_t totalBytes_ = 0;
};

Sha256Digest Sha256Of(std::span<const std::uint8_t> bytes);
// Lower-case hex, 64 characters.
std::string DigestHex(const Sha256Digest& digest);

}  // namespace orvel
