// The packed and byte-keyed forms. Each loop runs over one 1 KiB block with
// one key table, which the compiler turns into vector code.

#include "firmware/codec.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace orvel {
namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr std::size_t kHeadBlocks = kPackedHeadSize / kKeyBlockSize;
constexpr std::size_t kKeyTables = 4;
constexpr std::size_t kCountSize = 4;
constexpr std::size_t kTrailerSize = 4;
constexpr std::size_t kByteKeySize = 256;

static_assert(kPackedRunMax == kPackedTrailerImageOffset - kPackedBodyStart);
static_assert(kPackedMinLength == kPackedHeadSize + kCountSize + kTrailerSize);
static_assert(kPackedMaxBlocks * kKeyBlockSize == kFullImageSize - kPackedBodyStart);

const std::array<std::uint8_t, kKeyBlockSize>& KeyForBlock(std::size_t block) {
  return PackedKeyTable[block % kKeyTables];
}

// Fixed trip counts and no aliasing let even the cheapest vectoriser take these loops whole.
void AddBlock(const std::uint8_t* __restrict in, const std::uint8_t* __restrict key, std::uint8_t* __restrict out) {
  for (std::size_t j = 0; j < kKeyBlockSize; ++j) out[j] = static_cast<std::uint8_t>(in[j] + key[j]);
}

void SubtractBlock(const std::uint8_t* __restrict in, const std::uint8_t* __restrict key,
                   std::uint8_t* __restrict out) {
  for (std::size_t j = 0; j < kKeyBlockSize; ++j) out[j] = static_cast<std::uint8_t>(in[j] - key[j]);
}

void AddKeyChunk(std::uint8_t* __restrict p, const std::uint8_t* __restrict key) {
  for (std::size_t j = 0; j < kByteKeySize; ++j) p[j] = static_cast<std::uint8_t>(p[j] + key[j]);
}

void SubtractKeyChunk(std::uint8_t* __restrict p, const std::uint8_t* __restrict key) {
  for (std::size_t j = 0; j < kByteKeySize; ++j) p[j] = static_cast<std::uint8_t>(p[j] - key[j]);
}

std::uint32_t ReadLittleEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void WriteLittleEndian32(std::uint32_t v, std::uint8_t* p) {
  for (std::size_t i = 0; i < kCountSize; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Blocks from 0x8000 needed to cover every byte before the trailing run of c.
std::uint32_t BlocksForRun(std::uint32_t c) { return (kPackedRunMax - c + kKeyBlockSize - 1) / kKeyBlockSize; }

// Adds or subtracts the byte key over [begin, end): whole table-aligned chunks
// in the fast loop, the ragged edges byte by byte.
void ByteKeyRange(std::span<std::uint8_t> data, std::size_t begin, std::size_t end, bool add) {
  std::uint8_t* p = data.data();
  const std::uint8_t* key = ByteKeyTable.data();
  std::size_t i = begin;
  const auto one = [&](std::size_t k) {
    const std::uint8_t kb = key[k % kByteKeySize];
    p[k] = static_cast<std::uint8_t>(add ? p[k] + kb : p[k] - kb);
  };
  for (; i < end && i % kByteKeySize != 0; ++i) one(i);
  for (; i + kByteKeySize <= end; i += kByteKeySize) {
    if (add) {
      AddKeyChunk(p + i, key);
    } else {
      SubtractKeyChunk(p + i, key);
    }
  }
  for (; i < end; ++i) one(i);
}

constexpr std::array<std::uint8_t, kKeyBlockSize> MakeErasedBlock() {
  std::array<std::uint8_t, kKeyBlockSize> block{};
  block.fill(kErased);
  return block;
}
constexpr std::array<std::uint8_t, kKeyBlockSize> kErasedBlock = MakeErasedBlock();

bool IsErased(const std::uint8_t* from, std::size_t length) {
  for (std::size_t at = 0; at < length; at += kKeyBlockSize) {
    if (std::memcmp(from + at, kErasedBlock.data(), std::min<std::size_t>(kKeyBlockSize, length - at)) != 0) return false;
  }
  return true;
}

// Length of the run of 0xFF that ends just before `end`, not reaching below `floor`.
std::uint32_t ErasedRunBefore(const std::uint8_t* image, std::uint32_t floor, std::uint32_t end) {
  constexpr std::uint32_t kWord = sizeof(std::uint64_t);
  std::uint32_t at = end;
  while (at - floor >= kWord) {
    std::uint64_t word = 0;
    std::memcpy(&word, image + at - kWord, kWord);
    if (word != ~std::uint64_t{0}) break;
    at -= kWord;
  }
  while (at > floor && image[at - 1] == kErased) --at;
  return end - at;
}

void ByteKey(std::span<std::uint8_t> data, std::uint32_t idOffset, bool add) {
  const std::size_t length = data.size();
  const std::size_t idStart = std::min<std::size_t>(idOffset, length);
  const std::size_t idEnd = std::min<std::size_t>(static_cast<std::size_t>(idOffset) + kIdBlockSize, length);
  ByteKeyRange(data, 0, idStart, add);
  ByteKeyRange(data, idEnd, length, add);
}

}  // namespace

std::unique_ptr<ImageBuffer> NewImageBuffer() {
  try {
    return std::make_unique_for_overwrite<ImageBuffer>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<ImageBuffer> EncodePackedImage(ConstImageSpan image, std::size_t* outLength) {
  if (outLength == nullptr || image.data() == nullptr) return nullptr;
  const std::uint8_t* p = image.data();
  // The gap is left out of the file, so an image with anything in it cannot be packed.
  if (!IsErased(p + kPackedGapStart, kPackedBodyStart - kPackedGapStart)) return nullptr;
  auto out = NewImageBuffer();
  if (!out) return nullptr;
  std::uint8_t* o = out->data();

  for (std::size_t k = 0; k < kHeadBlocks; ++k) {
    AddBlock(p + k * kKeyBlockSize, KeyForBlock(k).data(), o + k * kKeyBlockSize);
  }

  const std::uint32_t c = ErasedRunBefore(p, kPackedBodyStart, kPackedTrailerImageOffset);
  WriteLittleEndian32(c, o + kPackedCountOffset);

  const std::uint32_t n = BlocksForRun(c);
  for (std::size_t b = 0; b < n; ++b) {
    AddBlock(p + kPackedBodyStart + b * kKeyBlockSize, KeyForBlock(b).data(),
             o + kPackedBlocksOffset + b * kKeyBlockSize);
  }
  const std::size_t trailerAt = kPackedBlocksOffset + static_cast<std::size_t>(n) * kKeyBlockSize;
  std::memcpy(o + trailerAt, p + kPackedTrailerImageOffset, kTrailerSize);

  *outLength = trailerAt + kTrailerSize;
  return out;
}

bool DecodePackedImageInto(std::span<const std::uint8_t> packed, ImageSpan image) {
  if (packed.data() == nullptr || packed.size() < kPackedMinLength) return false;
  const std::uint8_t* in = packed.data();
  const std::uint32_t c = ReadLittleEndian32(in + kPackedCountOffset);
  if (c > kPackedRunMax) return false;
  const std::uint32_t n = BlocksForRun(c);
  const std::size_t bodyEnd = kPackedBlocksOffset + static_cast<std::size_t>(n) * kKeyBlockSize;
  if (packed.size() < bodyEnd + kTrailerSize) return false;

  std::uint8_t* o = image.data();
  for (std::size_t k = 0; k < kHeadBlocks; ++k) {
    SubtractBlock(in + k * kKeyBlockSize, KeyForBlock(k).data(), o + k * kKeyBlockSize);
  }
  std::memset(o + kPackedGapStart, kErased, kPackedBodyStart - kPackedGapStart);
  for (std::size_t b = 0; b < n; ++b) {
    SubtractBlock(in + kPackedBlocksOffset + b * kKeyBlockSize, KeyForBlock(b).data(),
                  o + kPackedBodyStart + b * kKeyBlockSize);
  }
  const std::size_t runStart = kPackedBodyStart + static_cast<std::size_t>(n) * kKeyBlockSize;
  std::memset(o + runStart, kErased, kFullImageSize - runStart);
  // The trailer is the input's last 4 bytes, wherever the blocks end.
  std::memcpy(o + kPackedTrailerImageOffset, in + packed.size() - kTrailerSize, kTrailerSize);
  return true;
}

std::unique_ptr<ImageBuffer> DecodePackedImage(std::span<const std::uint8_t> packed) {
  if (packed.size() < kPackedMinLength) return nullptr;
  auto image = NewImageBuffer();
  if (!image || !DecodePackedImageInto(packed, *image)) return nullptr;
  return image;
}

void ApplyByteKey(std::span<std::uint8_t> data, std::uint32_t idOffset) { ByteKey(data, idOffset, true); }

void RemoveByteKey(std::span<std::uint8_t> data, std::uint32_t idOffset) { ByteKey(data, idOffset, false); }

}  // namespace orvel
