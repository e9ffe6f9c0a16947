// Sample firmware: pseudo-random code with a real identification block, and
// erased flash where a packed image must have it.

#include "firmware/sample_firmware.h"

#include <algorithm>
#include <cstring>

#include "firmware/catalogue.h"
#include "firmware/codec.h"
#include "firmware/image_file.h"

namespace orvel {
namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr char kTypeCodePad = '0';
constexpr char kDescriptionPad = ' ';
constexpr std::uint64_t kSeedMix = 0x9E3779B97F4A7C15ULL;  // keeps seed 0 from giving an all-zero state
// The trailing erased run of a packed family: between 64 KiB and 320 KiB, by seed,
// so that packed files stay well below 1 MiB and differ in length.
constexpr std::uint32_t kMinTrailingRun = 0x10000;
constexpr std::uint32_t kTrailingRunSpread = 0x40000;

// Offsets where rows of other families look for their codes.
constexpr std::uint32_t kForeignIdOffsets[] = {0x4, 0x8004, 0x20004, 0x7FF04};

class XorShift64 {
 public:
  explicit XorShift64(std::uint32_t seed) : state_((static_cast<std::uint64_t>(seed) + 1) * kSeedMix) {}
  std::uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }

 private:
  std::uint64_t state_;
};

void FillRandom(std::vector<std::uint8_t>& image, XorShift64& rng) {
  constexpr std::size_t kWord = sizeof(std::uint64_t);
  std::size_t at = 0;
  for (; at + kWord <= image.size(); at += kWord) {
    const std::uint64_t word = rng.Next();
    std::memcpy(image.data() + at, &word, kWord);
  }
  for (; at < image.size(); ++at) image[at] = static_cast<std::uint8_t>(rng.Next());
}

std::uint32_t OwnIdOffset(int family) {
  const int row = FindFamilyRow(family);
  return row < 0 ? TypeCodeTable.front().idOffset : TypeCodeRow(row).idOffset;
}

}  // namespace

std::vector<std::uint8_t> MakePlainImage(int family, std::string_view typeCode, std::string_view description,
                                         std::uint32_t seed) {
  std::vector<std::uint8_t> image(PlainImageSize(family));
  XorShift64 rng(seed);
  FillRandom(image, rng);
  const std::uint32_t idOffset = OwnIdOffset(family);

  // A NUL where another family's row would look keeps random bytes from
  // spelling a code that stands earlier in the table.
  for (std::uint32_t other : kForeignIdOffsets) {
    if (other != idOffset && other < image.size()) image[other] = 0;
  }

  if (FormOfFamily(family) == FileForm::Packed) {
    std::fill(image.begin() + kPackedGapStart, image.begin() + kPackedBodyStart, kErased);
    const std::uint32_t run = kMinTrailingRun + static_cast<std::uint32_t>(rng.Next() % kTrailingRunSpread);
    std::fill(image.begin() + (kPackedTrailerImageOffset - run), image.begin() + kPackedTrailerImageOffset, kErased);
  }

  std::uint8_t* block = image.data() + idOffset;
  for (std::size_t i = 0; i < kTypeCodeLength; ++i) {
    block[i] = static_cast<std::uint8_t>(i < typeCode.size() ? typeCode[i] : kTypeCodePad);
  }
  for (std::size_t i = 0; i < kDescriptionLength; ++i) {
    block[kTypeCodeLength + i] = static_cast<std::uint8_t>(i < description.size() ? description[i] : kDescriptionPad);
  }
  return image;
}

std::vector<std::uint8_t> EncodeForFamily(int family, const std::vector<std::uint8_t>& plain) {
  const FileForm form = FormOfFamily(family);
  if (form == FileForm::Plain) return plain;
  // The packed form is made from a whole image buffer; nothing longer than one is converted.
  if (plain.size() > kFullImageSize || (form == FileForm::Packed && plain.size() != kFullImageSize)) return {};
  const std::unique_ptr<ImageBuffer> buffer = NewImageBuffer();
  if (!buffer) return {};
  std::copy(plain.begin(), plain.end(), buffer->begin());
  std::size_t length = plain.size();
  // The gap not erased: no packed form exists.
  if (EncodeImageForFile(*buffer, length, static_cast<std::uint8_t>(family), family) != 1) return {};
  return std::vector<std::uint8_t>(buffer->begin(), buffer->begin() + static_cast<std::ptrdiff_t>(length));
}

std::vector<std::uint8_t> MakeFirmwareFile(int family, std::string_view typeCode, std::string_view description,
                                           std::uint32_t seed) {
  return EncodeForFamily(family, MakePlainImage(family, typeCode, description, seed));
}

const char* FileExtensionOfFamily(int family) { return TraitsOf(family).extension; }

}  // namespace orvel
