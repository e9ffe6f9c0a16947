#pragma once
// The two encoded file forms: the packed form (families 6..8: areas of 0xFF
// left out, the rest keyed with four 1 KiB tables) and the byte-keyed form
// (family 5: one 256-byte table, identification block left unkeyed).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "firmware/catalogue.h"

namespace orvel {

using ImageBuffer = std::array<std::uint8_t, kFullImageSize>;
using ImageSpan = std::span<std::uint8_t, kFullImageSize>;
using ConstImageSpan = std::span<const std::uint8_t, kFullImageSize>;

inline constexpr std::uint32_t kPackedHeadSize = 0x4000;      // blocks 0..15
inline constexpr std::uint32_t kPackedGapStart = 0x4000;      // 16 KiB of 0xFF, not stored
inline constexpr std::uint32_t kPackedBodyStart = 0x8000;
inline constexpr std::uint32_t kPackedCountOffset = 0x4000;
inline constexpr std::uint32_t kPackedBlocksOffset = 0x4004;
inline constexpr std::uint32_t kPackedTrailerImageOffset = 0xFFFFC;
inline constexpr std::uint32_t kPackedRunMax = 1015804;       // 0x8000 .. 0xFFFFB
inline constexpr std::uint32_t kPackedMinLength = 16392;
inline constexpr std::uint32_t kPackedMaxBlocks = 992;
inline constexpr std::uint32_t kKeyBlockSize = 1024;

// Product data: fixed tables (see key_tables.cpp for how they were chosen).
extern const std::array<std::array<std::uint8_t, kKeyBlockSize>, 4> PackedKeyTable;
extern const std::array<std::uint8_t, 256> ByteKeyTable;

// A new image buffer (contents unspecified).
std::unique_ptr<ImageBuffer> NewImageBuffer();

// Packs a plain 1 MiB image. nullptr (length untouched) when bytes
// 0x4000..0x7FFF are not all 0xFF or the output cannot be had; otherwise a new
// buffer whose first *outLength bytes are the packed form.
std::unique_ptr<ImageBuffer> EncodePackedImage(ConstImageSpan image, std::size_t* outLength);

// Unpacks; nullptr for an empty input, one shorter than 16,392 bytes, a count
// above 1,015,804, or an input shorter than n*1024 + 16,392. The trailer is the
// input's last 4 bytes. Never reads outside `packed`.
std::unique_ptr<ImageBuffer> DecodePackedImage(std::span<const std::uint8_t> packed);
// The same into a caller's buffer (no allocation); false on refusal.
bool DecodePackedImageInto(std::span<const std::uint8_t> packed, ImageSpan image);

// In place over `data`, skipping the 36 bytes at idOffset (key entry by absolute offset).
void ApplyByteKey(std::span<std::uint8_t> data, std::uint32_t idOffset);
void RemoveByteKey(std::span<std::uint8_t> data, std::uint32_t idOffset);

}  // namespace orvel
