#pragma once
// Identifying a firmware file: which TypeCodeTable row it belongs to, its
// 6-character type code, its 30-character description and Pass Type key.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "firmware/image_file.h"

namespace orvel {

enum class IdentifyOutcome { Identified, DidNotOpen, NoRow, TooLarge };

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

// Rows of families 0..5 compared as stored, rows of 6..8 through the packed
// decoder (the file decoded once). Files over 1 MiB are not identified.
SourceIdentification IdentifyFile(FileSystem& fs, std::string_view name);

// The 30-character description: bytes below 0x20 or from 0x80 up become
// blanks; missing bytes count as 0.
std::string BuildDescription(std::span<const std::uint8_t> bytes);

// First TypeCodeTable row whose code stands at its idOffset of a plain image,
// every family compared as stored; -1 when none.
int FindRowForPlainImage(std::span<const std::uint8_t> image);

}  // namespace orvel
