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

void Decode(const CliContext& ctx, const std::string& name, Conversion& c) {
  const SourceIdentification id = IdentifyFileBytes(c.Output());
  if (id.outcome != IdentifyOutcome::Identified) {
    c.refusal = ctx.Tr("not identified: ", "識別できません: ") +
                WhyNotIdentified(ctx, name, id, PackedFamilyOfPlainImage(c.Output()));
    c.refusalCode = IdentificationStop(id).value_or(StopCode::FileNotIdentified);
    return;
  }
  c.family = id.family;
  c.form = FormOfFamily(id.family);
  if (c.form == FileForm::Plain) {
    const std::string family = std::to_string(id.family);
    c.refusal = ctx.Tr("family " + family + " has no encoded form; the file is a plain image already",
                       "ファミリー " + family + " には符号化された形式がありません。このファイルは既にプレーンイメージです");
    c.refusalCode = StopCode::NoEncodedForm;
    return;
  }
  // Removing the byte key keeps the length: a file cut short (or too long) would give an image of the wrong size.
  const std::uint32_t size = PlainImageSize(id.family);
  if (c.form == FileForm::ByteKeyed && c.length != size) {
    const std::string family = std::to_string(id.family);
    c.refusal = ctx.Tr("a byte-keyed file of family " + family + " has " + std::to_string(size) + " bytes, this file has " +
                           std::to_string(c.length),
                       "ファミリー " + family + " のバイトキー付きファイルは " + std::to_string(size) +
                           " バイトですが、このファイルは " + std::to_string(c.length) + " バイトです");
    c.refusalCode = StopCode::FileMisfit;
    return;
  }
  if (DecodeImageFromFile(*c.buffer, c.length, id.family, id.family) != 1) {
    c.refusal = ctx.Tr("not a valid packed image", "正しいパックイメージではありません");
    c.refusalCode = StopCode::PackedInvalid;
  }
}

void Encode(const CliContext& ctx, Conversion& c) {
  const int row = FindRowForPlainImage(c.Output());
  if (row < 0) {
    c.refusal = ctx.Tr("no matching family: no type code of the catalogue stands at its place in the image",
                       "一致するファミリーがありません: カタログのどのタイプコードもイメージ内の所定の位置にありません");
    return;
  }
  const int family = TypeCodeRow(row).family;
  c.family = family;
  c.form = FormOfFamily(family);
  if (c.form == FileForm::Plain) {
    c.refusal = ctx.Tr("family " + std::to_string(family) + " has no encoded form",
                       "ファミリー " + std::to_string(family) + " には符号化された形式がありません");
    c.refusalCode = StopCode::NoEncodedForm;
    return;
  }
  const std::uint32_t size = PlainImageSize(family);
  if (c.length != size) {
    c.refusal = ctx.Tr("a plain image of family " + std::to_string(family) + " has " + std::to_string(size) +
                           " bytes, this file has " + std::to_string(c.length),
                       "ファミリー " + std::to_string(family) + " のプレーンイメージは " + std::to_string(size) +
                           " バイトですが、このファイルは " + std::to_string(c.length) + " バイトです");
    c.refusalCode = StopCode::FileMisfit;
    return;
  }
  // Only the packed encoder can refuse.
  if (EncodeImageForFile(*c.buffer, c.length, static_cast<std::uint8_t>(family), family) != 1) {
    c.refusal = ctx.Tr("the packed form needs bytes 0x4000..0x7FFF all 0xFF, and this image has others there",
                       "パック形式には 0x4000..0x7FFF のバイトがすべて 0xFF である必要がありますが、このイメージには"
                       "ほかの値があります");
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
      return ctx.Stop(StopCode::FileNotOpened, name + ": " + FileErrorText(read.fileError, ctx.options.language));
    case LoadFailure::StatusFailed:
      return ctx.Stop(StopCode::FileNotOpened, name + ctx.Tr(": its length cannot be read", ": 長さを読み取れません"));
    case LoadFailure::Empty:
      return ctx.Stop(StopCode::FileEmpty, name + ctx.Tr(": empty file", ": 空のファイルです"));
    case LoadFailure::TooLarge:
      return ctx.Stop(StopCode::FileTooLarge, name + ctx.Tr(": too large (over 1,048,576 bytes)",
                                                            ": 大きすぎます（1,048,576 バイトを超えています）"));
    default:
      return ctx.Stop(StopCode::FileNotOpened, name + ctx.Tr(": read failed", ": 読み取りに失敗しました"));
  }
}

std::string AlreadyExists(const CliContext& ctx) {
  return ctx.Tr(" already exists; it is not overwritten", " は既に存在します。上書きはしません");
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
  const int language = ctx.options.language;
  const std::string notCreated = ctx.Tr(": cannot be created: ", ": 作成できません: ");
  if (h == kNoFile) return ctx.Stop(StopCode::OutputNotWritten, name + notCreated + FileErrorText(error, language));
  const bool written = fs.WriteAll(h, data, &error);
  FileError closeError = FileError::None;
  const bool closed = fs.SyncAndClose(h, &closeError);
  if (!written || !closed) {
    fs.Remove(temp);
    // The write's own error, not the close's that followed it.
    return ctx.Stop(StopCode::OutputNotWritten, name + ctx.Tr(": write failed: ", ": 書き込みに失敗しました: ") +
                                                    FileErrorText(written ? closeError : error, language));
  }
  if (fs.RenameNoReplace(temp, name, &error)) return kExitOk;
  fs.Remove(temp);
  if (error == FileError::Exists) return ctx.Stop(StopCode::OutputExists, name + AlreadyExists(ctx));
  return ctx.Stop(StopCode::OutputNotWritten, name + notCreated + FileErrorText(error, language));
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
    const std::string why = ctx.Tr("convert goes from .kvf to .bin (decode) or from .bin to .kvf (encode)",
                                   "convert は .kvf から .bin へ（復号）、または .bin から .kvf へ（符号化）変換します");
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
    const std::string why = output + AlreadyExists(ctx);
    return finish(ctx.Stop(StopCode::OutputExists, why));
  }
  Conversion c;
  const int read = ReadInput(ctx, *fs, input, c);
  if (read != kExitOk) return finish(read);
  const std::size_t inputBytes = c.length;

  if (direction == ConvertDirection::Decode) {
    Decode(ctx, input, c);
  } else {
    Encode(ctx, c);
  }
  if (c.family) {
    doc["family"] = *c.family;
    doc["form"] = FormName(c.form);
  }
  const bool plainOfPacked = direction == ConvertDirection::Decode && c.form == FileForm::Packed;
  if (!c.refusal.empty()) {
    return finish(ctx.Stop(c.refusalCode, input + ctx.Tr(": cannot convert: ", ": 変換できません: ") + c.refusal +
                                              ctx.Tr("; nothing written", "。何も書き込んでいません")));
  }
  const int written = WriteExclusive(ctx, *fs, output, c.Output());
  if (written != kExitOk) return finish(written);
  doc["inputBytes"] = inputBytes;
  doc["outputBytes"] = c.length;
  if (!ctx.options.json) {
    const std::string family = std::to_string(c.family.value_or(kEndFamily));
    const std::string bytes = std::to_string(c.length);
    const bool decoded = direction == ConvertDirection::Decode;
    ctx.out << input
            << ctx.Tr(" (family " + family + ", " + FormWord(ctx, c.form) + ") " + (decoded ? "decoded" : "encoded") +
                          " to " + output + ", " + bytes + " bytes\n",
                      "（ファミリー " + family + "、" + FormWord(ctx, c.form) + "）を " + output + " に" +
                          (decoded ? "復号" : "符号化") + "しました（" + bytes + " バイト）\n");
  }
  // The plain image is for reading, not for the drive: said also to scripts (on standard error).
  if (plainOfPacked) {
    ctx.text() << output << ctx.Tr(": note: ", ": 注意: ") << PlainImageNote(ctx, *c.family) << '\n';
  }
  return finish(kExitOk);
}

}  // namespace orvel
