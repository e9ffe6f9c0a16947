#pragma once
// Moving a firmware image between a file and the image buffer: the one reader
// of a whole firmware file, the rule a file's name must meet, the one place
// that converts between the plain and the encoded forms; and the type-code
// decision between the drive's firmware and the chosen file.

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
  std::size_t fileLength = 0;             // as the file system reports it
  std::size_t bytesRead = 0;              // bytes of the file now in the buffer
  std::size_t plainLength = 0;            // bytes of plain image now in the buffer
};

// What a reader makes of a file it cannot read whole (its length unreadable, or
// fewer bytes arriving): the load refuses it, identification looks at what arrived.
enum class PartialFile { Refuse, TakeWhatArrives };

// The one reader of a whole firmware file. Refuses a file that does not open,
// an empty one and one longer than the image buffer before `buffer` is touched;
// then allocates a new image buffer and reads the file into it from offset 0.
// 1 with report.bytesRead bytes in the buffer; 0 with the reason in `report`
// (after a short read the buffer stays allocated, holding what arrived).
int ReadFirmwareFile(FileSystem& fs, std::string_view name, std::unique_ptr<ImageBuffer>& buffer,
                     LoadReport& report, PartialFile partial = PartialFile::Refuse);

// The loading rule for a name: its extension is the text after the first full
// stop of its base name ("a.v2.kvf" has "v2.kvf", "./dir/A.KVF" has "KVF"),
// the whole base name when it has none. Both '/' and '\\' end a directory part.
std::string_view FileExtension(std::string_view name);
bool IsKvfExtension(std::string_view name);
// Whether `name` may hold a file of TypeCodeTable row `entryIndex`: "kvf" (any
// case, by FileExtension) for an encoded row, any other extension for a plain one.
bool NameFitsRow(std::string_view name, int entryIndex);
// Whether a file of `fileLength` bytes may hold a file of row `entryIndex`: a
// plain or byte-keyed file is exactly its family's image size; a packed file
// is only known by decoding it (any length up to the image buffer passes here).
bool SizeFitsRow(std::uint64_t fileLength, int entryIndex);

// `convert`'s rule, not the loader's: the text after the last full stop of the
// base name, in lower case ("a.v2.KVF" has "kvf"); empty when there is none.
// Both '/' and '\\' end a directory part here too.
std::string LastExtension(std::string_view name);

// Reads `name` into `imageBuffer` (allocated anew, 1 MiB), checks its name
// against row `sourceEntryIndex` and leaves the plain image there. 1 on
// success, 0 otherwise with the reason in *report.
int LoadSourceImage(FileSystem& fs, std::string_view name, int sourceEntryIndex, std::uint8_t sourceFamily,
                    int driveFamily, std::unique_ptr<ImageBuffer>& imageBuffer, LoadReport* report);

// The two conversions. Whether to convert at all follows the source family's
// first TypeCodeTable row (encoded or not), which form the drive family's
// traits: a blank drive takes a file of another family. With the drive's own
// family both follow the family.
//
// In place on the `length` bytes of an encoded file held in a 1 MiB buffer:
// byte key removed, or packed form decoded; `length` becomes the plain image's.
// 1 when converted, 0 when nothing was (buffer and length as they were).
int DecodeImageFromFile(ImageSpan buffer, std::size_t& length, std::uint8_t sourceFamily, int driveFamily);

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
// Whether the codes differ only where Pass Type may let them pass (the last two bytes).
bool DifferOnlyInLastTwo(const TypeCode& drive, const TypeCode& source);
// The eight-byte Pass Type comparison (fewer than 8 characters, or an empty key, never match).
bool PassKeyMatches(std::string_view entry, const PassKey& key);

}  // namespace orvel
