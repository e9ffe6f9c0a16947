#include <algorithm>
#include <cctype>
#include <optional>
#include <span>

#include "cli/cli_context.h"
#include "firmware/catalogue.h"
#include "firmware/identify.h"
#include "firmware/image_file.h"

namespace orvel {
namespace {

constexpr int kMaxTempAttempts = 100;

enum class ConvertDirection { Decode, Encode, Unknown };

// By LastExtension, the last full stop of the base name: not the loader's rule.
ConvertDirection DirectionOf(const std::string& in, const std::string& out) {
  const std::string from = LastExtension(in);
  const std::string to = LastExtension(out);
  if (from == "kvf" && to == "bin") return ConvertDirection::Decode;
  if (from == "bin" && to == "kvf") return ConvertDirection::Encode;
  return ConvertDirection::Unknown;
}

// The file's bytes, converted in place: the first `length` bytes of `buffer`.
struct Conversion {
  std::unique_ptr<ImageBuffer> buffer;
  std::size_t length = 0;
  std::optional<int> family;
  FileForm form = FileForm::Plain;
  std::string refusal;  // empty when converted
  StopCode refusalCode = StopCode::FileNotIdentified;

  std::span<const std::uint8_t> Output() const { return {buffer->data(), length}; }
};

void Decode(const std::string& name, Conversion& c) {
  const SourceIdentification id = IdentifyFileBytes(c.Output());
  if (id.outcome != IdentifyOutcome::Identified) {
    c.refusal = "not identified: " + WhyNotIdentified(name, id);
    c.refusalCode = IdentificationStop(id).value_or(StopCode::FileNotIdentified);
    return;
  }
  c.family = id.family;
  c.form = FormOfFamily(id.family);
  if (c.form == FileForm::Plain) {
    c.refusal = "family " + std::to_string(id.family) + " has no encoded form; the file is a plain image already";
    c.refusalCode = StopCode::NoEncodedForm;
    return;
  }
  // Removing the byte key keeps the length: a file cut short (or too long) would give an image of the wrong size.
  const std::uint32_t size = PlainImageSize(id.family);
  if (c.form == FileForm::ByteKeyed && c.length != size) {
    c.refusal = "a byte-keyed file of family " + std::to_string(id.family) + " has " + std::to_string(size) +
                " bytes, this file has " + std::to_string(c.length);
    c.refusalCode = StopCode::FileMisfit;
    return;
  }
  if (DecodeImageFromFile(*c.buffer, c.length, id.family, id.family) != 1) {
    c.refusal = "not a valid packed image";
    c.refusalCode = StopCode::PackedInvalid;
  }
}

void Encode(Conversion& c) {
  const int row = FindRowForPlainImage(c.Output());
  if (row < 0) {
    c.refusal = "no matching family: no type code of the catalogue stands at its place in the image";
    return;
  }
  const int family = TypeCodeRow(row).family;
  c.family = family;
  c.form = FormOfFamily(family);
  if (c.form == FileForm::Plain) {
    c.refusal = "family " + std::to_string(family) + " has no encoded form";
    c.refusalCode = StopCode::NoEncodedForm;
    return;
  }
  const std::uint32_t size = PlainImageSize(family);
  if (c.length != size) {
    c.refusal = "a plain image of family " + std::to_string(family) + " has " + std::to_string(size) +
                " bytes, this file has " + std::to_string(c.length);
    c.refusalCode = StopCode::FileMisfit;
    return;
  }
  // Only the packed encoder can refuse.
  if (EncodeImageForFile(*c.buffer, c.length, static_cast<std::uint8_t>(family), family) != 1) {
    c.refusal = "the packed form needs bytes 0x4000..0x7FFF all 0xFF, and this image has others there";
    c.refusalCode = StopCode::PackedAreaUsed;
  }
}

// Reads the whole of `name` into the conversion's buffer; exit status.
int ReadInput(CliContext& ctx, FileSystem& fs, const std::string& name, Conversion& c) {
  LoadReport read;
  if (ReadFirmwareFile(fs, name, c.buffer, read) == 1) {
    c.length = read.bytesRead;
    return kExitOk;
  }
  switch (read.failure) {
    case LoadFailure::OpenFailed:
      return ctx.Stop(StopCode::FileNotOpened, name + ": " + FileErrorText(read.fileError));
    case LoadFailure::StatusFailed:
      return ctx.Stop(StopCode::FileNotOpened, name + ": its length cannot be read");
    case LoadFailure::Empty:
      return ctx.Stop(StopCode::FileEmpty, name + ": empty file");
    case LoadFailure::TooLarge:
      return ctx.Stop(StopCode::FileTooLarge, name + ": too large (over 1,048,576 bytes)");
    default:
      return ctx.Stop(StopCode::FileNotOpened, name + ": read failed");
  }
}

// Writes `data` under a temporary name and links it to `name`, which must not
// exist: an existing file is never replaced and a failed write leaves nothing.
int WriteExclusive(CliContext& ctx, FileSystem& fs, const std::string& name, std::span<const std::uint8_t> data) {
  FileError error = FileError::None;
  std::string temp;
  FileHandle h = kNoFile;
  for (int n = 0; n < kMaxTempAttempts && h == kNoFile; ++n) {
    temp = name + ".part" + (n == 0 ? std::string() : std::to_string(n));
    h = fs.CreateExclusive(temp, &error);
    if (h == kNoFile && error != FileError::Exists) break;
  }
  if (h == kNoFile) return ctx.Stop(StopCode::OutputNotWritten, name + ": cannot be created: " + FileErrorText(error));
  const bool written = fs.WriteAll(h, data, &error);
  FileError closeError = FileError::None;
  const bool closed = fs.SyncAndClose(h, &closeError);
  if (!written || !closed) {
    fs.Remove(temp);
    // The write's own error, not the close's that followed it.
    return ctx.Stop(StopCode::OutputNotWritten, name + ": write failed: " + FileErrorText(written ? closeError : error));
  }
  if (fs.RenameNoReplace(temp, name, &error)) return kExitOk;
  fs.Remove(temp);
  if (error == FileError::Exists) return ctx.Stop(StopCode::OutputExists, name + " already exists; it is not overwritten");
  return ctx.Stop(StopCode::OutputNotWritten, name + ": cannot be created: " + FileErrorText(error));
}

}  // namespace

int CommandConvert(CliContext& ctx, const std::string& input, const std::string& output) {
  nlohmann::json doc = {{"input", input}, {"output", output}};
  auto finish = [&](int status) {
    ctx.PrintDocument(doc, status);
    return status;
  };
  const ConvertDirection direction = DirectionOf(input, output);
  if (direction == ConvertDirection::Unknown) {
    const std::string why = "convert goes from .kvf to .bin (decode) or from .bin to .kvf (encode)";
    return finish(ctx.Stop(StopCode::WrongExtensions, why));
  }
  doc["direction"] = direction == ConvertDirection::Decode ? "decode" : "encode";
  // Under --simulate the simulator's working directory (with its file faults) is used.
  std::unique_ptr<Platform> platform;
  std::unique_ptr<FileSystem> native;
  FileSystem* fs = nullptr;
  if (ctx.options.simulate) {
    const int opened = OpenFilePlatform(ctx, platform);
    if (opened != kExitOk) return finish(opened);
    fs = &platform->Files();
  } else {
    native = MakeNativeFileSystem(ctx.options.workingDirectory);
    fs = native.get();
  }
  if (fs->Exists(output)) {
    const std::string why = output + " already exists; it is not overwritten";
    return finish(ctx.Stop(StopCode::OutputExists, why));
  }
  Conversion c;
  const int read = ReadInput(ctx, *fs, input, c);
  if (read != kExitOk) return finish(read);
  const std::size_t inputBytes = c.length;

  if (direction == ConvertDirection::Decode) {
    Decode(input, c);
  } else {
    Encode(c);
  }
  if (c.family) {
    doc["family"] = *c.family;
    doc["form"] = FormName(c.form);
  }
  if (!c.refusal.empty()) {
    return finish(ctx.Stop(c.refusalCode, input + ": cannot convert: " + c.refusal + "; nothing written"));
  }
  const int written = WriteExclusive(ctx, *fs, output, c.Output());
  if (written != kExitOk) return finish(written);
  doc["inputBytes"] = inputBytes;
  doc["outputBytes"] = c.length;
  if (!ctx.options.json) {
    ctx.out << input << " (family " << c.family.value_or(kEndFamily) << ", " << FormName(c.form) << ") "
            << (direction == ConvertDirection::Decode ? "decoded" : "encoded") << " to " << output << ", "
            << c.length << " bytes\n";
  }
  return finish(kExitOk);
}

}  // namespace orvel
