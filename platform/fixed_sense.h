#pragma once
// Fixed-format sense data (response codes 70h/71h), the one layout every
// route hands back: the ASPI SenseArea, the pass-through sense area and
// REQUEST SENSE data. The transport reads ASC and ASCQ from it, backends and
// the simulator write it, the Linux backend converts descriptor sense into it.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orvel::fixed_sense {

inline constexpr std::uint8_t kCurrent = 0x70;
inline constexpr std::uint8_t kDeferred = 0x71;

// Byte positions.
inline constexpr std::size_t kResponseCode = 0;      // bit 7: the information field is valid
inline constexpr std::size_t kSenseKey = 2;          // low four bits
inline constexpr std::size_t kInformation = 3;       // 4 bytes, big-endian
inline constexpr std::size_t kAdditionalLength = 7;  // bytes that follow it
inline constexpr std::size_t kAsc = 12;
inline constexpr std::size_t kAscq = 13;
inline constexpr std::size_t kSenseKeySpecific = 15;  // 3 bytes

// The bytes up to and including the additional length field.
inline constexpr std::size_t kHeaderLength = kAdditionalLength + 1;
// Through ASCQ: what a drive commonly serves and the transport asks for.
inline constexpr std::size_t kShortLength = kAscq + 1;

// Current sense of kShortLength bytes with `key`, `asc` and `ascq`, the rest zero.
constexpr std::array<std::uint8_t, kShortLength> Make(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  std::array<std::uint8_t, kShortLength> s{};
  s[kResponseCode] = kCurrent;
  s[kSenseKey] = key;
  s[kAdditionalLength] = static_cast<std::uint8_t>(kShortLength - kHeaderLength);
  s[kAsc] = asc;
  s[kAscq] = ascq;
  return s;
}

}  // namespace orvel::fixed_sense
