// The packed decoder on raw input, and on a packed file stretched from a short
// one (raw inputs rarely reach the 16 KiB a packed file needs). The image and
// the stretched file live in static buffers: a run costs its input and one
// decoded image, never a fresh megabyte.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "firmware/codec.h"
#include "fuzz/input_layouts.h"

namespace {

using namespace orvel;

constexpr std::size_t kCountBytes = 4;
constexpr std::size_t kTrailerBytes = 4;
constexpr std::size_t kMaxStretched = kPackedMinLength + fuzz::kStretchSpan;

ImageBuffer image;
// Zeros beyond what a run wrote: each run clears its own bytes again.
std::array<std::uint8_t, kMaxStretched> stretched{};
const ImageBuffer& Erased() {
  static const ImageBuffer erased = [] {
    ImageBuffer b;
    b.fill(0xFF);
    return b;
  }();
  return erased;
}

void Require(bool ok) {
  if (!ok) std::abort();
}

std::uint32_t CountOf(std::span<const std::uint8_t> packed) {
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < kCountBytes; ++i) {
    count |= static_cast<std::uint32_t>(packed[kPackedCountOffset + i]) << (8 * i);
  }
  return count;
}

bool ErasedBetween(std::size_t from, std::size_t to) {
  return from >= to || std::memcmp(image.data() + from, Erased().data() + from, to - from) == 0;
}

void Check(std::span<const std::uint8_t> packed) {
  // The decoder's own rule, as its header states it.
  bool acceptable = packed.size() >= kPackedMinLength;
  std::size_t blocks = 0;
  if (acceptable) {
    const std::uint32_t count = CountOf(packed);
    acceptable = count <= kPackedRunMax;
    if (acceptable) {
      blocks = (kPackedRunMax - count + kKeyBlockSize - 1) / kKeyBlockSize;
      acceptable = packed.size() >= blocks * kKeyBlockSize + kPackedMinLength;
    }
  }
  const bool decoded = DecodePackedImageInto(packed, image);
  Require(decoded == acceptable);
  if (!decoded) return;
  // The gap and everything after the stored blocks read erased; the trailer is the input's last 4 bytes.
  Require(ErasedBetween(kPackedGapStart, kPackedBodyStart));
  Require(ErasedBetween(kPackedBodyStart + blocks * kKeyBlockSize, kPackedTrailerImageOffset));
  Require(std::memcmp(packed.data() + packed.size() - kTrailerBytes, image.data() + kPackedTrailerImageOffset,
                      kTrailerBytes) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  Check(input);
  if (size < fuzz::kStretchHeader) return 0;

  std::size_t extra = 0;
  for (std::size_t i = 0; i < fuzz::kStretchLengthBytes; ++i) extra |= static_cast<std::size_t>(data[i]) << (8 * i);
  const std::size_t length = kPackedMinLength + extra % fuzz::kStretchSpan;
  const std::span<const std::uint8_t> body = input.subspan(fuzz::kStretchHeader);
  const std::size_t copied = std::min(body.size(), length);
  std::copy_n(body.begin(), copied, stretched.begin());
  std::copy_n(data + fuzz::kStretchLengthBytes, kCountBytes, stretched.begin() + kPackedCountOffset);
  Check(std::span(stretched).first(length));
  std::fill_n(stretched.begin(), copied, 0);
  std::fill_n(stretched.begin() + kPackedCountOffset, kCountBytes, 0);
  return 0;
}
