#include <array>
#include <span>
#include <vector>

#include "cli/cli_context.h"
#include "firmware/catalogue.h"
#include "firmware/image_file.h"
#include "platform/files.h"

namespace orvel {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7E;
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;
constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

}  // namespace

std::string Printable(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= kFirstPrintable && byte <= kLastPrintable && byte != '\\') {
      text += c;
    } else {
      text += "\\x";
      text += kHexDigits[(byte >> kNibbleBits) & kNibbleMask];
      text += kHexDigits[byte & kNibbleMask];
    }
  }
  return text;
}

std::string TypeCodeText(const TypeCode& code) { return std::string(code.data(), kTypeCodeLength); }

std::string IdentifyReason(const SourceIdentification& id, int language) {
  const bool japanese = language == 1;
  switch (id.outcome) {
    case IdentifyOutcome::Identified:
      return {};
    case IdentifyOutcome::DidNotOpen:
      return std::string(japanese ? "開けません（" : "did not open (") + FileErrorText(id.openError, language) +
             (japanese ? "）" : ")");
    case IdentifyOutcome::NoRow:
    case IdentifyOutcome::NotDecodable:
      return japanese ? "一致するタイプコードがありません" : "no matching type code";
    case IdentifyOutcome::Empty:
      return japanese ? "一致するタイプコードがありません: ファイルが空です" : "no matching type code: the file is empty";
    case IdentifyOutcome::TooLarge:
      return japanese ? "大きすぎます（1,048,576 バイトを超えています）" : "too large (over 1,048,576 bytes)";
  }
  return {};
}

std::string FormName(FileForm form) {
  switch (form) {
    case FileForm::Plain:
      return "plain";
    case FileForm::ByteKeyed:
      return "byte-keyed";
    case FileForm::Packed:
      return "packed";
  }
  return {};
}

std::optional<int> PackedFamilyOfPlainImage(std::span<const std::uint8_t> bytes) {
  const int row = FindRowForPlainImage(bytes);
  if (row < 0) return std::nullopt;
  const int family = TypeCodeRow(row).family;
  if (FormOfFamily(family) != FileForm::Packed) return std::nullopt;
  return family;
}

std::optional<int> PackedFamilyOfPlainFile(FileSystem& fs, const std::string& name) {
  std::unique_ptr<ImageBuffer> buffer;
  LoadReport read;
  if (ReadFirmwareFile(fs, name, buffer, read) == 0) return std::nullopt;
  return PackedFamilyOfPlainImage(std::span<const std::uint8_t>(buffer->data(), read.bytesRead));
}

std::string PlainImageNote(const CliContext& ctx, int family) {
  const std::string number = std::to_string(family);
  return ctx.Tr("a plain image of family " + number +
                    " (as convert writes from a .KVF file); such a file is not a source for an update: "
                    "the drive takes family " + number + " firmware only from its .KVF file",
                "ファミリー " + number +
                    " のプレーンイメージです（convert が .KVF ファイルから書き出す形式）。このファイルは"
                    "アップデートのソースにはなりません。ファミリー " + number +
                    " のファームウェアは .KVF ファイルからのみ書き込めます");
}

std::string WhyNotIdentified(const CliContext& ctx, const std::string& name, const SourceIdentification& id,
                             std::optional<int> plainOfPacked) {
  if (plainOfPacked) return PlainImageNote(ctx, *plainOfPacked);
  std::string reason = IdentifyReason(id, ctx.options.language);
  // Which form a file has follows from its family alone, not from its name; a
  // name that promises an encoded file gets told what the packed decoder made of it.
  if (id.outcome == IdentifyOutcome::NotDecodable && LastExtension(name) == "kvf") {
    reason += ctx.Tr("; not a valid packed file either (cut short or damaged?)",
                     "。パックファイルとしても正しくありません（途中で切れているか、壊れている可能性があります）");
  }
  return reason;
}

std::string WhyNotIdentified(const CliContext& ctx, FileSystem& fs, const std::string& name,
                             const SourceIdentification& id) {
  const bool unknownBytes = id.outcome == IdentifyOutcome::NoRow || id.outcome == IdentifyOutcome::NotDecodable;
  return WhyNotIdentified(ctx, name, id, unknownBytes ? PackedFamilyOfPlainFile(fs, name) : std::nullopt);
}

std::string FormWord(const CliContext& ctx, FileForm form) {
  switch (form) {
    case FileForm::Plain:
      return ctx.Tr("plain", "プレーン");
    case FileForm::ByteKeyed:
      return ctx.Tr("byte-keyed", "バイトキー付き");
    case FileForm::Packed:
      return ctx.Tr("packed", "パック");
  }
  return {};
}

void PrintIdentification(const CliContext& ctx, std::ostream& out, const std::string& name,
                         const SourceIdentification& id, const std::string& reason) {
  if (id.outcome != IdentifyOutcome::Identified) {
    out << name << ctx.Tr(": not identified: ", ": 識別できません: ") << reason << '\n';
    return;
  }
  out << name << ctx.Tr(": identified\n", ": 識別しました\n")
      << ctx.Tr("  type code    ", "  タイプコード  ") << Printable(TypeCodeText(id.typeCode)) << '\n'
      << ctx.Tr("  family       ", "  ファミリー    ") << static_cast<int>(id.family) << '\n'
      << ctx.Tr("  form         ", "  形式          ") << FormWord(ctx, id.form) << '\n'
      << ctx.Tr("  description  \"", "  説明          \"") << id.description << "\"\n";
}

std::optional<StopCode> IdentificationStop(const SourceIdentification& id) {
  switch (id.outcome) {
    case IdentifyOutcome::Identified:
      return std::nullopt;
    case IdentifyOutcome::DidNotOpen:
      return StopCode::FileNotOpened;
    case IdentifyOutcome::Empty:
      return StopCode::FileEmpty;
    case IdentifyOutcome::TooLarge:
      return StopCode::FileTooLarge;
    case IdentifyOutcome::NoRow:
    case IdentifyOutcome::NotDecodable:
      break;
  }
  return StopCode::FileNotIdentified;
}

nlohmann::json IdentificationJson(const std::string& name, const SourceIdentification& id, const std::string& reason) {
  const std::optional<StopCode> stop = IdentificationStop(id);
  nlohmann::json j = {{"name", name},          {"identified", !stop}, {"code", nullptr}, {"reason", nullptr},
                      {"typeCode", nullptr},   {"family", nullptr},   {"entryIndex", nullptr},
                      {"form", nullptr},       {"description", nullptr}};
  if (stop) {
    j["code"] = RowOf(*stop).code;
    j["reason"] = reason;
    return j;
  }
  j["typeCode"] = TypeCodeText(id.typeCode);
  j["family"] = id.family;
  j["entryIndex"] = id.entryIndex;
  j["form"] = FormName(id.form);
  j["description"] = id.description;
  return j;
}

int CommandIdentify(CliContext& ctx, const std::vector<std::string>& files) {
  // The simulator's working directory can have file faults; files are read through it then.
  std::unique_ptr<Platform> platform;
  std::unique_ptr<FileSystem> posix;
  FileSystem* fs = nullptr;
  if (ctx.options.simulate) {
    const int opened = OpenFilePlatform(ctx, platform);
    if (opened != kExitOk) return opened;
    fs = &platform->Files();
  } else {
    posix = MakeNativeFileSystem(ctx.options.workingDirectory);
    fs = posix.get();
  }
  nlohmann::json list = nlohmann::json::array();
  int status = kExitOk;
  for (const std::string& name : files) {
    const SourceIdentification id = IdentifyFile(*fs, name);
    const std::string reason = WhyNotIdentified(ctx, *fs, name, id);
    // The file that decides the exit status gives the document its stop.
    if (const std::optional<StopCode> stop = IdentificationStop(id)) {
      const int fileStatus = RowOf(*stop).exitStatus;
      if (status == kExitOk || (fileStatus == kExitNoSuchDriveOrFile && status != kExitNoSuchDriveOrFile)) {
        status = ctx.KeepStop(*stop, name + ": " + reason);
      }
    }
    if (ctx.options.json) {
      list.push_back(IdentificationJson(name, id, reason));
    } else {
      PrintIdentification(ctx, ctx.out, name, id, reason);
    }
  }
  ctx.PrintDocument({{"files", list}}, status);
  return status;
}

}  // namespace orvel
