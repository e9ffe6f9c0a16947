#pragma once
// Moving a firmware image between a file and the image buffer, and the
// type-code decision between the drive's firmware and the chosen file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "firmware/codec.h"
#include "platform/files.h"

namespace orvel {

enum class LoadFailure {
  None,
  OpenFailed,         // the file did not open: the operator is shown `fileError` with the name
  StatusFailed,       // its length could not be read
  Empty,
  TooLarge,           // longer than the image buffer (1,048,576 bytes)
  ShortRead,          // fewer bytes arrived than the file's length
  ExtensionMismatch,  // "kvf" for a plain row, or another extension for an encoded row
  DecodeFailed,       // DecodeImageFromFile converted nothing
};

struct LoadReport {
  LoadFailure failure = LoadFailure::None;
  FileError fileError = FileError::None;  // with OpenFailed
  std::size_t fileLength = 0;
  std::size_t plainLength = 0;            // bytes of plain image now in the buffer
};

// Text after the first full stop; the whole name when it has none.
std::string_view FileExtension(std::string_view name);
bool IsKvfExtension(std::string_view name);

// Reads `name` into `imageBuffer` (allocated anew, 1 MiB) and leaves the plain
// image there. 1 on success, 0 otherwise with the reason in *report.
int LoadSourceImage(FileSystem& fs, std::string_view name, int sourceEntryIndex, std::uint8_t sourceFamily,
                    int driveFamily, std::unique_ptr<ImageBuffer>& imageBuffer, LoadReport* report);

// In place on the `length` bytes of an encoded file held in a 1 MiB buffer:
// the form is the drive family's (byte key removed, or packed form decoded); whether
// to convert at all follows the source family's first row.
// 1 when converted, 0 when nothing was (buffer keeps the file's bytes).
int DecodeImageFromFile(ImageSpan buffer, std::size_t length, std::uint8_t sourceFamily, int driveFamily);

// In place: a plain image of `length` bytes into the file form of its family;
// `length` updated. 0 leaves buffer and length as they were.
int EncodeImageForFile(ImageSpan buffer, std::size_t& length, std::uint8_t sourceFamily, int driveFamily);

using TypeCode = std::array<char, kTypeCodeLength + 1>;   // 6 characters and NUL
using PassKey = std::array<char, 9>;                      // 8 characters and NUL

struct TypeCodeCheck {
  TypeCode driveTypeCode{};
  TypeCode sourceTypeCode{};
  int passTypeCheck = 0;              // check state of "Pass Type"
  std::string_view passwordEntry;
  PassKey typePassKey{};
};

// Whether the update may go ahead: equal codes; or equal in the first four
// with Pass Type ticked and the right entry; or a blank drive (six 0xFF).
bool CheckTypeCode(const TypeCodeCheck& check);
// The eight-byte Pass Type comparison (fewer than 8 characters, or an empty key, never match).
bool PassKeyMatches(std::string_view entry, const PassKey& key);

}  // namespace orvel
