// The packed decoder on raw input, and on inputs of fuzzer-chosen length and
// count built from it (raw inputs rarely reach the 16 KiB a packed file needs).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "firmware/codec.h"

namespace {

constexpr std::size_t kMaxSynthLength = 1040000;  // a little over the longest packed file
constexpr std::size_t kHeader = 7;  // 3 bytes of length, 4 of count

void Check(std::span<const std::uint8_t> input) {
  auto image = orvel::DecodePackedImage(input);
  if (!image) return;
  // Accepted input: it held every block its count names, and the gap reads erased.
  std::uint32_t count = 0;
  std::memcpy(&count, input.data() + orvel::kPackedCountOffset, sizeof count);
  const std::size_t blocks = (orvel::kPackedRunMax - count + orvel::kKeyBlockSize - 1) / orvel::kKeyBlockSize;
  if (count > orvel::kPackedRunMax || input.size() < blocks * orvel::kKeyBlockSize + orvel::kPackedMinLength) {
    std::abort();
  }
  if (!std::all_of(image->begin() + orvel::kPackedGapStart, image->begin() + orvel::kPackedBodyStart,
                   [](std::uint8_t b) { return b == 0xFF; })) {
    std::abort();
  }
  if (!std::equal(input.end() - 4, input.end(), image->begin() + orvel::kPackedTrailerImageOffset)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Check(std::span(data, size));
  if (size < kHeader) return 0;

  const std::size_t length =
      (static_cast<std::size_t>(data[0]) | (static_cast<std::size_t>(data[1]) << 8) |
       (static_cast<std::size_t>(data[2]) << 16)) % kMaxSynthLength;
  std::vector<std::uint8_t> synth(length);
  const std::span<const std::uint8_t> fill(data + kHeader, size - kHeader);
  for (std::size_t at = 0; at < length && !fill.empty(); at += fill.size()) {
    std::copy_n(fill.begin(), std::min(fill.size(), length - at), synth.begin() + static_cast<std::ptrdiff_t>(at));
  }
  if (length >= orvel::kPackedCountOffset + 4) std::memcpy(synth.data() + orvel::kPackedCountOffset, data + 3, 4);
  Check(synth);
  return 0;
}
