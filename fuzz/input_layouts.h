#pragma once
// How the fuzz targets read their input, shared with the seed maker so that
// the seeds it writes mean what the targets take them for.

#include <cstddef>
#include <cstdint>

namespace orvel::fuzz {

// fuzz_decode: the input as a packed file; then, stretched, a packed file of
// 16,392 bytes and up to 16 blocks more (2 bytes, little-endian, modulo the
// span) with the count (4 bytes) that follows, the input's other bytes, then
// zeros. Short inputs reach every decision of the decoder this way, and a run
// never handles more than a few dozen KiB besides the image.
inline constexpr std::size_t kStretchLengthBytes = 2;
inline constexpr std::size_t kStretchHeader = 6;
inline constexpr std::size_t kStretchSpan = 16 * 1024 + 1;

// fuzz_encode: [source family][drive family][the image's head]; the image is
// the head followed by erased flash (0xFF) up to 1 MiB, and the length given
// to the encoder is the head's (the packed encoder takes the whole image).
inline constexpr std::size_t kEncodeHeader = 2;

// fuzz_update_mode: [loader][flags][short bytes, 2, little-endian][the 16 KiB
// the loader reads at its idAddress: the input's bytes, then zeros].
// loader: LoaderTable row the drive reports in update mode (modulo rows + 1;
// the last value: a drive that never leaves normal mode).
inline constexpr std::size_t kModeHeader = 4;
inline constexpr std::uint8_t kModeAspi = 0x01;             // the ASPI route, else pass-through
inline constexpr std::uint8_t kModeAlternateForm = 0x02;    // the procedure starts with the alternate read form
inline constexpr std::uint8_t kModeRefuseAddressRead = 0x04;  // the drive refuses 0xE3 (falls back to 0xA8)
inline constexpr unsigned kModeFaultShift = 3;              // bits 3..5: ModeFault
inline constexpr std::uint8_t kModeFaultMask = 0x07;
// What goes wrong with the first identification read (0xE3 or 0xA8).
enum class ModeFault : std::uint8_t { None, Short, Check, Timeout, Fail, Aborted, InquiryShort, SecondSwitchCheck };

// fuzz_convert: [flags][the input file's bytes].
inline constexpr std::size_t kConvertHeader = 1;
inline constexpr std::uint8_t kConvertEncode = 0x01;      // .bin to .kvf, else .kvf to .bin
inline constexpr std::uint8_t kConvertPadImage = 0x02;    // the file padded with 0xFF to 1 MiB
inline constexpr std::uint8_t kConvertJson = 0x04;        // --json
inline constexpr unsigned kConvertNameShift = 3;          // bits 3..4: which spelling of the names
inline constexpr std::uint8_t kConvertNameMask = 0x03;

// fuzz_inquiry: [selector][bytes the route reports delivered][the answer].
inline constexpr std::size_t kInquiryHeader = 2;

}  // namespace orvel::fuzz
