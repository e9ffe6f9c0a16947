// The one reader of a whole firmware file, the naming rules, loading a source
// image into the image buffer, the file-form conversions and the type-code
// decision.

#include "firmware/image_file.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace orvel {
namespace {

constexpr std::string_view kEncodedExtension = "kvf";
constexpr std::size_t kSharedPrefixLength = 4;  // codes agreeing this far may pass with Pass Type
constexpr std::size_t kPassKeyLength = 8;
constexpr unsigned char kBlankFlash = 0xFF;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The name without its directory part.
std::string_view BaseName(std::string_view name) {
  const std::size_t separator = name.find_last_of("/\\");
  return separator == std::string_view::npos ? name : name.substr(separator + 1);
}

int Fail(LoadReport& report, LoadFailure failure) {
  report.failure = failure;
  return 0;
}

}  // namespace

int ReadFirmwareFile(FileSystem& fs, std::string_view name, std::unique_ptr<ImageBuffer>& buffer,
                     LoadReport& report, PartialFile partial) {
  report = LoadReport{};
  FileError err = FileError::None;
  const FileHandle h = fs.OpenRead(name, &err);
  if (h == kNoFile) {
    report.fileError = err == FileError::None ? FileError::Io : err;
    return Fail(report, LoadFailure::OpenFailed);
  }
  const std::int64_t length = fs.Length(h);
  LoadFailure refusal = LoadFailure::None;
  if (length < 0) {
    if (partial == PartialFile::Refuse) refusal = LoadFailure::StatusFailed;
  } else if (length == 0) {
    refusal = LoadFailure::Empty;
  } else if (length > static_cast<std::int64_t>(kFullImageSize)) {
    // Refused before the buffer is touched: such a file does not fit it.
    refusal = LoadFailure::TooLarge;
  }
  if (length >= 0) report.fileLength = static_cast<std::size_t>(length);
  if (refusal != LoadFailure::None) {
    fs.Close(h);
    return Fail(report, refusal);
  }

  buffer.reset();
  buffer = NewImageBuffer();
  if (!buffer) {  // nothing could be read into
    fs.Close(h);
    return Fail(report, LoadFailure::ShortRead);
  }
  // A file whose length cannot be read is read as far as it goes.
  const std::size_t wanted = length >= 0 ? static_cast<std::size_t>(length) : std::size_t{kFullImageSize};
  const std::int64_t got = fs.ReadAt(h, 0, std::span(buffer->data(), wanted));
  fs.Close(h);
  report.bytesRead = got > 0 ? static_cast<std::size_t>(got) : 0;
  if (partial == PartialFile::Refuse && (got < 0 || report.bytesRead < wanted)) {
    return Fail(report, LoadFailure::ShortRead);
  }
  return 1;
}

std::string_view FileExtension(std::string_view name) {
  const std::string_view base = BaseName(name);
  const std::size_t dot = base.find('.');
  return dot == std::string_view::npos ? base : base.substr(dot + 1);
}

bool IsKvfExtension(std::string_view name) {
  const std::string_view ext = FileExtension(name);
  return ext.size() == kEncodedExtension.size() &&
         std::equal(ext.begin(), ext.end(), kEncodedExtension.begin(),
                    [](char a, char b) { return LowerAscii(a) == b; });
}

bool NameFitsRow(std::string_view name, int entryIndex) {
  return IsKvfExtension(name) == (TypeCodeRow(entryIndex).encoded == 1);
}

bool SizeFitsRow(std::uint64_t fileLength, int entryIndex) {
  const TypeCodeEntry& row = TypeCodeRow(entryIndex);
  const bool packed = row.encoded == 1 && FormOfFamily(row.family) == FileForm::Packed;
  if (packed) return fileLength > 0 && fileLength <= kFullImageSize;
  return fileLength == PlainImageSize(row.family);
}

std::string LastExtension(std::string_view name) {
  const std::string_view base = BaseName(name);
  const std::size_t dot = base.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string ext(base.substr(dot + 1));
  std::transform(ext.begin(), ext.end(), ext.begin(), LowerAscii);
  return ext;
}

int LoadSourceImage(FileSystem& fs, std::string_view name, int sourceEntryIndex, std::uint8_t sourceFamily,
                    int driveFamily, std::unique_ptr<ImageBuffer>& imageBuffer, LoadReport* report) {
  LoadReport local;
  LoadReport& out = report != nullptr ? *report : local;
  if (ReadFirmwareFile(fs, name, imageBuffer, out) == 0) return 0;
  if (!NameFitsRow(name, sourceEntryIndex)) return Fail(out, LoadFailure::ExtensionMismatch);
  std::size_t length = out.bytesRead;
  if (TypeCodeRow(sourceEntryIndex).encoded == 1 &&
      DecodeImageFromFile(*imageBuffer, length, sourceFamily, driveFamily) != 1) {
    return Fail(out, LoadFailure::DecodeFailed);
  }
  out.plainLength = length;
  return 1;
}

int DecodeImageFromFile(ImageSpan buffer, std::size_t& length, std::uint8_t sourceFamily, int driveFamily) {
  const std::int64_t d = FindIdBlockOffset(sourceFamily);
  if (d < 0 || length > buffer.size()) return 0;
  const FileForm form = FormOfFamily(driveFamily);
  if (form == FileForm::ByteKeyed) {
    RemoveByteKey(buffer.first(length), static_cast<std::uint32_t>(d));
    return 1;
  }
  if (form == FileForm::Packed) {
    // The plain image spreads wider than the packed bytes it comes from: decode aside.
    auto plain = DecodePackedImage(buffer.first(length));
    if (!plain) return 0;
    std::memcpy(buffer.data(), plain->data(), kFullImageSize);
    length = kFullImageSize;
    return 1;
  }
  return 0;
}

int EncodeImageForFile(ImageSpan buffer, std::size_t& length, std::uint8_t sourceFamily, int driveFamily) {
  const std::int64_t d = FindIdBlockOffset(sourceFamily);
  if (d < 0 || length > buffer.size()) return 0;
  const FileForm form = FormOfFamily(driveFamily);
  if (form == FileForm::ByteKeyed) {
    ApplyByteKey(buffer.first(length), static_cast<std::uint32_t>(d));
    return 1;
  }
  if (form == FileForm::Packed) {
    std::size_t packedLength = 0;
    auto packed = EncodePackedImage(buffer, &packedLength);
    if (!packed) return 0;
    std::memcpy(buffer.data(), packed->data(), packedLength);
    length = packedLength;
    return 1;
  }
  return 0;
}

bool PassKeyMatches(std::string_view entry, const PassKey& key) {
  const std::size_t keyLength = static_cast<std::size_t>(std::find(key.begin(), key.end(), '\0') - key.begin());
  if (keyLength < kPassKeyLength || entry.size() < kPassKeyLength) return false;
  return std::memcmp(entry.data(), key.data(), kPassKeyLength) == 0;
}

bool DifferOnlyInLastTwo(const TypeCode& drive, const TypeCode& source) {
  return std::memcmp(drive.data(), source.data(), kSharedPrefixLength) == 0 &&
         std::memcmp(drive.data(), source.data(), kTypeCodeLength) != 0;
}

bool CheckTypeCode(const TypeCodeCheck& check) {
  const char* drive = check.driveTypeCode.data();
  const char* source = check.sourceTypeCode.data();
  if (std::memcmp(drive, source, kTypeCodeLength) == 0) return true;
  if (std::memcmp(drive, source, kSharedPrefixLength) == 0) {
    return check.passTypeCheck != 0 && PassKeyMatches(check.passwordEntry, check.typePassKey);
  }
  return std::all_of(drive, drive + kTypeCodeLength,
                     [](char c) { return static_cast<unsigned char>(c) == kBlankFlash; });
}

}  // namespace orvel
