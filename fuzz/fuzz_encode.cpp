// EncodeImageForFile (the packed encoder and the byte key) on any image, for
// any pair of source and drive family: what it encodes decodes back to the
// image, and what it refuses it leaves as it was. The images live in static
// buffers; the encoder's own buffer is the only memory a run takes.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "firmware/image_file.h"
#include "fuzz/input_layouts.h"

namespace {

using namespace orvel;

constexpr std::uint8_t kErased = 0xFF;

// The image as built from the input: the head, then erased flash.
struct Images {
  Images() { original.fill(kErased); }
  ImageBuffer original;
  ImageBuffer buffer;   // encoded in place
  ImageBuffer decoded;  // a packed file decoded back
  std::size_t head = 0;
};
Images images;

void Require(bool ok) {
  if (!ok) std::abort();
}

bool GapErased(const ImageBuffer& image) {
  static const std::array<std::uint8_t, kPackedBodyStart - kPackedGapStart> erasedGap = [] {
    std::array<std::uint8_t, kPackedBodyStart - kPackedGapStart> gap;
    gap.fill(kErased);
    return gap;
  }();
  return std::memcmp(image.data() + kPackedGapStart, erasedGap.data(), erasedGap.size()) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < fuzz::kEncodeHeader) return 0;
  const std::uint8_t sourceFamily = data[0];
  const int driveFamily = static_cast<std::int8_t>(data[1]);  // negative and unknown families too
  const std::span<const std::uint8_t> head(data + fuzz::kEncodeHeader,
                                           std::min<std::size_t>(size - fuzz::kEncodeHeader, kFullImageSize));
  ImageBuffer& original = images.original;
  ImageBuffer& buffer = images.buffer;
  std::fill_n(original.begin(), images.head, kErased);  // the last run's head
  std::copy(head.begin(), head.end(), original.begin());
  images.head = head.size();
  buffer = original;

  const std::size_t before = head.size();
  std::size_t length = before;
  const int encoded = EncodeImageForFile(buffer, length, sourceFamily, driveFamily);
  const std::int64_t idOffset = FindIdBlockOffset(sourceFamily);
  const FileForm form = FormOfFamily(driveFamily);
  if (encoded != 1) {
    Require(encoded == 0 && length == before && buffer == original);
    // Refused only without an encoded row, in the plain form, or with something in the packed form's gap.
    Require(idOffset < 0 || form == FileForm::Plain || (form == FileForm::Packed && !GapErased(original)));
    return 0;
  }
  Require(idOffset >= 0 && form != FileForm::Plain);
  if (form == FileForm::ByteKeyed) {
    Require(length == before);
    // The identification block stays readable in the file.
    const auto id = static_cast<std::size_t>(idOffset);
    const std::size_t idEnd = std::min(id + kIdBlockSize, length);
    if (id < idEnd) Require(std::memcmp(buffer.data() + id, original.data() + id, idEnd - id) == 0);
    Require(DecodeImageFromFile(buffer, length, sourceFamily, driveFamily) == 1);
    Require(length == before && std::memcmp(buffer.data(), original.data(), length) == 0);
    return 0;
  }
  // The packed form, decoded aside: the whole image comes back, whatever length was given.
  Require(length >= kPackedMinLength && length <= kFullImageSize);
  Require(DecodePackedImageInto(std::span(buffer).first(length), images.decoded));
  Require(images.decoded == original);
  return 0;
}
