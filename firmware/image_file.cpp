// Loading a source image into the image buffer, the file-form conversions and
// the type-code decision.

#include "firmware/image_file.h"

#include <algorithm>
#include <cstring>

namespace orvel {
namespace {

constexpr std::string_view kEncodedExtension = "kvf";
constexpr std::size_t kSharedPrefixLength = 4;  // codes agreeing this far may pass with Pass Type
constexpr std::size_t kPassKeyLength = 8;
constexpr unsigned char kBlankFlash = 0xFF;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void Fail(LoadReport* report, LoadFailure failure) { report->failure = failure; }

}  // namespace

std::string_view FileExtension(std::string_view name) {
  const std::size_t dot = name.find('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

bool IsKvfExtension(std::string_view name) {
  const std::string_view ext = FileExtension(name);
  return ext.size() == kEncodedExtension.size() &&
         std::equal(ext.begin(), ext.end(), kEncodedExtension.begin(),
                    [](char a, char b) { return LowerAscii(a) == b; });
}

int LoadSourceImage(FileSystem& fs, std::string_view name, int sourceEntryIndex, std::uint8_t sourceFamily,
                    int driveFamily, std::unique_ptr<ImageBuffer>& imageBuffer, LoadReport* report) {
  LoadReport local;
  LoadReport* out = report != nullptr ? report : &local;
  *out = LoadReport{};

  FileError err = FileError::None;
  const FileHandle h = fs.OpenRead(name, &err);
  if (h == kNoFile) {
    out->fileError = err == FileError::None ? FileError::Io : err;
    Fail(out, LoadFailure::OpenFailed);
    return 0;
  }
  const std::int64_t length = fs.Length(h);
  if (length < 0) {
    fs.Close(h);
    Fail(out, LoadFailure::StatusFailed);
    return 0;
  }
  out->fileLength = static_cast<std::size_t>(length);
  if (length == 0) {
    fs.Close(h);
    Fail(out, LoadFailure::Empty);
    return 0;
  }
  // Refused before the buffer is touched: such a file does not fit it.
  if (length > static_cast<std::int64_t>(kFullImageSize)) {
    fs.Close(h);
    Fail(out, LoadFailure::TooLarge);
    return 0;
  }

  imageBuffer.reset();
  imageBuffer = NewImageBuffer();
  if (!imageBuffer) {  // nothing could be read into
    fs.Close(h);
    Fail(out, LoadFailure::ShortRead);
    return 0;
  }
  const std::size_t size = static_cast<std::size_t>(length);
  const std::int64_t got = fs.ReadAt(h, 0, std::span(imageBuffer->data(), size));
  fs.Close(h);
  if (got < 0 || static_cast<std::size_t>(got) < size) {
    Fail(out, LoadFailure::ShortRead);
    return 0;
  }

  const bool encodedRow = TypeCodeRow(sourceEntryIndex).encoded == 1;
  if (IsKvfExtension(name) != encodedRow) {
    Fail(out, LoadFailure::ExtensionMismatch);
    return 0;
  }
  if (!encodedRow) {
    out->plainLength = size;
    return 1;
  }
  if (DecodeImageFromFile(*imageBuffer, size, sourceFamily, driveFamily) != 1) {
    Fail(out, LoadFailure::DecodeFailed);
    return 0;
  }
  // A packed file decodes to a whole image; a byte-keyed one keeps its length.
  out->plainLength = FormOfFamily(driveFamily) == FileForm::Packed ? kFullImageSize : size;
  return 1;
}

int DecodeImageFromFile(ImageSpan buffer, std::size_t length, std::uint8_t sourceFamily, int driveFamily) {
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
