// Identifying a source file by the type code at its row's offset.

#include "firmware/identify.h"

#include <cstring>

namespace orvel {
namespace {

constexpr signed char kFirstShown = 0x20;
constexpr char kBlank = ' ';
constexpr std::size_t kPassKeyLength = 8;

bool CodeAt(std::span<const std::uint8_t> bytes, const TypeCodeEntry& row) {
  const std::size_t n = std::strlen(row.typeCode);
  if (row.idOffset > bytes.size() || bytes.size() - row.idOffset < n) return false;  // not wholly present
  return std::memcmp(bytes.data() + row.idOffset, row.typeCode, n) == 0;
}

// The identification block at `offset`; bytes beyond the end count as 0.
void TakeBlock(std::span<const std::uint8_t> bytes, std::uint32_t offset, SourceIdentification& id) {
  const std::span<const std::uint8_t> block =
      offset < bytes.size() ? bytes.subspan(offset, std::min<std::size_t>(kIdBlockSize, bytes.size() - offset))
                            : std::span<const std::uint8_t>();
  id.typeCode.fill('\0');
  for (std::size_t i = 0; i < kTypeCodeLength && i < block.size(); ++i) id.typeCode[i] = static_cast<char>(block[i]);
  id.description =
      BuildDescription(block.size() > kTypeCodeLength ? block.subspan(kTypeCodeLength) : std::span<const std::uint8_t>());
  id.typePassKey.fill('\0');
  std::memcpy(id.typePassKey.data(), id.description.data(), kPassKeyLength);
}

void Identified(SourceIdentification& id, std::size_t rowIndex, std::span<const std::uint8_t> bytes) {
  const TypeCodeEntry& row = TypeCodeTable[rowIndex];
  id.outcome = IdentifyOutcome::Identified;
  id.entryIndex = static_cast<int>(rowIndex);
  id.family = static_cast<std::uint8_t>(row.family);
  id.form = FormOfFamily(row.family);
  TakeBlock(bytes, row.idOffset, id);
}

}  // namespace

std::string BuildDescription(std::span<const std::uint8_t> bytes) {
  std::string text(kDescriptionLength, kBlank);
  for (std::size_t i = 0; i < kDescriptionLength && i < bytes.size(); ++i) {
    // Taken as signed: control bytes and everything from 0x80 up fall below a blank.
    const auto b = static_cast<signed char>(bytes[i]);
    if (b >= kFirstShown) text[i] = static_cast<char>(b);
  }
  return text;
}

int FindRowForPlainImage(std::span<const std::uint8_t> image) {
  for (std::size_t i = 0; i < TypeCodeTable.size(); ++i) {
    const TypeCodeEntry& row = TypeCodeTable[i];
    if (row.family == kEndFamily) break;
    if (CodeAt(image, row)) return static_cast<int>(i);
  }
  return -1;
}

SourceIdentification IdentifyFile(FileSystem& fs, std::string_view name) {
  SourceIdentification id;
  std::unique_ptr<ImageBuffer> buffer;
  LoadReport read;
  if (ReadFirmwareFile(fs, name, buffer, read, PartialFile::TakeWhatArrives) == 0) {
    switch (read.failure) {
      case LoadFailure::OpenFailed:
        id.outcome = IdentifyOutcome::DidNotOpen;
        id.openError = read.fileError;
        return id;
      case LoadFailure::Empty:
        id.outcome = IdentifyOutcome::Empty;
        return id;
      case LoadFailure::TooLarge:
        id.outcome = IdentifyOutcome::TooLarge;
        return id;
      default:
        id.outcome = IdentifyOutcome::NoRow;  // nothing could be read into
        return id;
    }
  }
  return IdentifyFileBytes(std::span<const std::uint8_t>(buffer->data(), read.bytesRead));
}

SourceIdentification IdentifyFileBytes(std::span<const std::uint8_t> bytes) {
  SourceIdentification id;
  std::unique_ptr<ImageBuffer> plain;
  bool decodeTried = false;
  for (std::size_t i = 0; i < TypeCodeTable.size(); ++i) {
    const TypeCodeEntry& row = TypeCodeTable[i];
    if (row.family == kEndFamily) break;
    if (FormOfFamily(row.family) != FileForm::Packed) {
      if (CodeAt(bytes, row)) {
        Identified(id, i, bytes);
        return id;
      }
      continue;
    }
    // One decode serves every packed row.
    if (!decodeTried) {
      decodeTried = true;
      plain = DecodePackedImage(bytes);
    }
    if (!plain) continue;  // no packed row matches an undecodable file
    if (CodeAt(*plain, row)) {
      Identified(id, i, *plain);
      return id;
    }
  }
  id.outcome = decodeTried && !plain ? IdentifyOutcome::NotDecodable : IdentifyOutcome::NoRow;
  return id;
}

}  // namespace orvel
