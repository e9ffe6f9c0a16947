#include <algorithm>
#include <cctype>
#include <span>
#include <vector>

#include "cli/cli_context.h"
#include "firmware/catalogue.h"
#include "firmware/codec.h"
#include "firmware/identify.h"

namespace orvel {
namespace {

constexpr int kMaxTempAttempts = 100;

enum class ConvertDirection { Decode, Encode, Unknown };

std::string LowerExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

ConvertDirection DirectionOf(const std::string& in, const std::string& out) {
  const std::string from = LowerExtension(in);
  const std::string to = LowerExtension(out);
  if (from == "kvf" && to == "bin") return ConvertDirection::Decode;
  if (from == "bin" && to == "kvf") return ConvertDirection::Encode;
  return ConvertDirection::Unknown;
}

struct Conversion {
  std::vector<std::uint8_t> output;
  int family = -1;
  FileForm form = FileForm::Plain;
  std::string refusal;  // empty when converted
};

Conversion Decode(FileSystem& fs, const std::string& name, std::vector<std::uint8_t> data) {
  Conversion c;
  const SourceIdentification id = IdentifyFile(fs, name);
  if (id.outcome != IdentifyOutcome::Identified) {
    c.refusal = "not identified: " + WhyNotIdentified(fs, name, id);
    return c;
  }
  c.family = id.family;
  c.form = FormOfFamily(id.family);
  const std::int64_t idOffset = FindIdBlockOffset(id.family);
  if (c.form == FileForm::Plain || idOffset < 0) {
    c.refusal = "family " + std::to_string(c.family) + " has no encoded form; the file is a plain image already";
    return c;
  }
  if (c.form == FileForm::ByteKeyed) {
    RemoveByteKey(data, static_cast<std::uint32_t>(idOffset));
    c.output = std::move(data);
    return c;
  }
  const std::unique_ptr<ImageBuffer> image = DecodePackedImage(data);
  if (!image) {
    c.refusal = "not a valid packed image";
    return c;
  }
  c.output.assign(image->begin(), image->end());
  return c;
}

Conversion Encode(std::vector<std::uint8_t> data) {
  Conversion c;
  const int row = FindRowForPlainImage(data);
  if (row < 0) {
    c.refusal = "no matching family: no type code of the catalogue stands at its place in the image";
    return c;
  }
  c.family = TypeCodeRow(row).family;
  c.form = FormOfFamily(c.family);
  const std::int64_t idOffset = FindIdBlockOffset(c.family);
  if (c.form == FileForm::Plain || idOffset < 0) {
    c.refusal = "family " + std::to_string(c.family) + " has no encoded form";
    return c;
  }
  const std::uint32_t size = PlainImageSize(c.family);
  if (data.size() != size) {
    c.refusal = "a plain image of family " + std::to_string(c.family) + " has " + std::to_string(size) +
                " bytes, this file has " + std::to_string(data.size());
    return c;
  }
  if (c.form == FileForm::ByteKeyed) {
    ApplyByteKey(data, static_cast<std::uint32_t>(idOffset));
    c.output = std::move(data);
    return c;
  }
  const std::unique_ptr<ImageBuffer> image = NewImageBuffer();
  std::copy(data.begin(), data.end(), image->begin());
  std::size_t packedLength = 0;
  const std::unique_ptr<ImageBuffer> packed = EncodePackedImage(*image, &packedLength);
  if (!packed) {
    c.refusal = "the packed form needs bytes 0x4000..0x7FFF all 0xFF, and this image has others there";
    return c;
  }
  c.output.assign(packed->begin(), packed->begin() + static_cast<std::ptrdiff_t>(packedLength));
  return c;
}

// Reads the whole of `name` (at most the image buffer's size); exit status.
int ReadInput(CliContext& ctx, FileSystem& fs, const std::string& name, std::vector<std::uint8_t>& data) {
  FileError error = FileError::None;
  const FileHandle h = fs.OpenRead(name, &error);
  if (h == kNoFile) return ctx.Fail(kExitNoSuchDriveOrFile, name + ": " + FileErrorText(error));
  const std::int64_t length = fs.Length(h);
  int status = kExitOk;
  if (length < 0) {
    status = ctx.Fail(kExitNoSuchDriveOrFile, name + ": its length cannot be read");
  } else if (length == 0) {
    status = ctx.Fail(kExitTypeCodeRefused, name + ": empty file");
  } else if (length > static_cast<std::int64_t>(kFullImageSize)) {
    status = ctx.Fail(kExitTypeCodeRefused, name + ": too large (over 1,048,576 bytes)");
  } else {
    data.resize(static_cast<std::size_t>(length));
    if (fs.ReadAt(h, 0, data) != length) status = ctx.Fail(kExitNoSuchDriveOrFile, name + ": read failed");
  }
  fs.Close(h);
  return status;
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
  if (h == kNoFile) return ctx.Fail(kExitUpdateFailed, name + ": cannot be created: " + FileErrorText(error));
  const bool written = fs.WriteAll(h, data, &error);
  FileError closeError = FileError::None;
  const bool closed = fs.SyncAndClose(h, &closeError);
  if (!written || !closed) {
    fs.Remove(temp);
    // The write's own error, not the close's that followed it.
    return ctx.Fail(kExitUpdateFailed, name + ": write failed: " + FileErrorText(written ? closeError : error));
  }
  if (fs.RenameNoReplace(temp, name, &error)) return kExitOk;
  fs.Remove(temp);
  if (error == FileError::Exists) return ctx.Fail(kExitUsage, name + " already exists; it is not overwritten");
  return ctx.Fail(kExitUpdateFailed, name + ": cannot be created: " + FileErrorText(error));
}

}  // namespace

int CommandConvert(CliContext& ctx, const std::string& input, const std::string& output) {
  nlohmann::json doc = {{"command", "convert"}, {"input", input}, {"output", output}};
  auto finish = [&](int status, const std::string& reason) {
    doc["exitStatus"] = status;
    if (!reason.empty()) doc["reason"] = reason;
    if (ctx.options.json) ctx.PrintJson(doc);
    return status;
  };
  const ConvertDirection direction = DirectionOf(input, output);
  if (direction == ConvertDirection::Unknown) {
    const std::string why = "convert goes from .kvf to .bin (decode) or from .bin to .kvf (encode)";
    return finish(ctx.Fail(kExitUsage, why), why);
  }
  doc["direction"] = direction == ConvertDirection::Decode ? "decode" : "encode";
  // Under --simulate the simulator's working directory (with its file faults) is used.
  std::unique_ptr<Platform> platform;
  std::unique_ptr<FileSystem> native;
  FileSystem* fs = nullptr;
  if (ctx.options.simulate) {
    const int opened = OpenFilePlatform(ctx, platform);
    if (opened != kExitOk) return finish(opened, "simulator not available");
    fs = &platform->Files();
  } else {
    native = MakeNativeFileSystem(ctx.options.workingDirectory);
    fs = native.get();
  }
  if (fs->Exists(output)) {
    const std::string why = output + " already exists; it is not overwritten";
    return finish(ctx.Fail(kExitUsage, why), why);
  }
  std::vector<std::uint8_t> data;
  const int read = ReadInput(ctx, *fs, input, data);
  if (read != kExitOk) return finish(read, "input not read");
  const std::size_t inputBytes = data.size();

  const Conversion c = direction == ConvertDirection::Decode ? Decode(*fs, input, std::move(data)) : Encode(std::move(data));
  if (c.family >= 0) {
    doc["family"] = c.family;
    doc["form"] = FormName(c.form);
  }
  if (!c.refusal.empty()) {
    ctx.Fail(kExitTypeCodeRefused, input + ": cannot convert: " + c.refusal + "; nothing written");
    return finish(kExitTypeCodeRefused, c.refusal);
  }
  const int written = WriteExclusive(ctx, *fs, output, c.output);
  if (written != kExitOk) return finish(written, "output not written");
  doc["inputBytes"] = inputBytes;
  doc["outputBytes"] = c.output.size();
  if (!ctx.options.json) {
    ctx.out << input << " (family " << c.family << ", " << FormName(c.form) << ") "
            << (direction == ConvertDirection::Decode ? "decoded" : "encoded") << " to " << output << ", "
            << c.output.size() << " bytes\n";
  }
  return finish(kExitOk, {});
}

}  // namespace orvel
