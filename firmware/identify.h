#pragma once
// Identifying a firmware file: which TypeCodeTable row it belongs to, its
// 6-character type code, its 30-character description and Pass Type key.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "firmware/image_file.h"

namespace orvel {

enum class IdentifyOutcome {
  Identified,
  DidNotOpen,
  Empty,         // the file system reports a length of 0
  TooLarge,      // over 1 MiB: not read
  NotDecodable,  // no row as stored, and the packed decoder refused the bytes
  NoRow,         // no row as stored, nor in what the packed decoder made of it
};

struct SourceIdentification {
  IdentifyOutcome outcome = IdentifyOutcome::NoRow;
  FileError openError = FileError::None;  // with DidNotOpen
  int entryIndex = 0;                     // TypeCodeTable row
  std::uint8_t family = 0;
  TypeCode typeCode{};
  std::string description;                // 30 characters
  PassKey typePassKey{};
  FileForm form = FileForm::Plain;        // by the row's family
};

// Rows of plain and byte-keyed families compared as stored, rows of packed
// families through the packed decoder (the file decoded once). Files over 1 MiB
// are not identified; a file that cannot be read whole is judged by what arrived.
SourceIdentification IdentifyFile(FileSystem& fs, std::string_view name);
// The same on a file's bytes already read.
SourceIdentification IdentifyFileBytes(std::span<const std::uint8_t> bytes);

// The 30-character description: bytes below 0x20 or from 0x80 up become
// blanks; missing bytes count as 0.
std::string BuildDescription(std::span<const std::uint8_t> bytes);

// First TypeCodeTable row whose code stands at its idOffset of a plain image,
// every family compared as stored; -1 when none.
int FindRowForPlainImage(std::span<const std::uint8_t> image);

}  // namespace orvel
