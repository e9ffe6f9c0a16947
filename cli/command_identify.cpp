#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

#include "cli/cli_context.h"
#include "firmware/catalogue.h"
#include "firmware/codec.h"
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

std::string IdentifyReason(const SourceIdentification& id) {
  switch (id.outcome) {
    case IdentifyOutcome::Identified:
      return {};
    case IdentifyOutcome::DidNotOpen:
      return std::string("did not open (") + FileErrorText(id.openError) + ")";
    case IdentifyOutcome::NoRow:
      return "no matching type code";
    case IdentifyOutcome::TooLarge:
      return "too large (over 1,048,576 bytes)";
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

std::string WhyNotIdentified(FileSystem& fs, const std::string& name, const SourceIdentification& id) {
  std::string reason = IdentifyReason(id);
  if (id.outcome != IdentifyOutcome::NoRow) return reason;
  FileError error = FileError::None;
  const FileHandle h = fs.OpenRead(name, &error);
  if (h == kNoFile) return reason;
  const std::int64_t length = fs.Length(h);
  std::vector<std::uint8_t> data;
  if (length > 0 && length <= static_cast<std::int64_t>(kFullImageSize)) {
    data.resize(static_cast<std::size_t>(length));
    if (fs.ReadAt(h, 0, data) != length) data.clear();
  }
  fs.Close(h);
  if (length == 0) return reason + ": the file is empty";
  // Which form a file has follows from its family alone, so say what the packed decoder made of it.
  constexpr std::string_view kEncoded = ".kvf";
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (!data.empty() && lower.ends_with(kEncoded) && !DecodePackedImage(data)) {
    reason += "; not a valid packed file either (cut short or damaged?)";
  }
  return reason;
}

void PrintIdentification(std::ostream& out, const std::string& name, const SourceIdentification& id,
                         const std::string& reason) {
  if (id.outcome != IdentifyOutcome::Identified) {
    out << name << ": not identified: " << (reason.empty() ? IdentifyReason(id) : reason) << '\n';
    return;
  }
  out << name << ": identified\n"
      << "  type code    " << Printable(TypeCodeText(id.typeCode)) << '\n'
      << "  family       " << static_cast<int>(id.family) << '\n'
      << "  form         " << FormName(id.form) << '\n'
      << "  description  \"" << id.description << "\"\n";
}

nlohmann::json IdentificationJson(const std::string& name, const SourceIdentification& id, const std::string& reason) {
  nlohmann::json j = {{"name", name}, {"identified", id.outcome == IdentifyOutcome::Identified}};
  if (id.outcome != IdentifyOutcome::Identified) {
    j["reason"] = reason.empty() ? IdentifyReason(id) : reason;
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
    if (id.outcome == IdentifyOutcome::DidNotOpen) {
      status = kExitNoSuchDriveOrFile;
    } else if (id.outcome != IdentifyOutcome::Identified && status == kExitOk) {
      status = kExitTypeCodeRefused;
    }
    const std::string reason = WhyNotIdentified(*fs, name, id);
    if (ctx.options.json) {
      list.push_back(IdentificationJson(name, id, reason));
    } else {
      PrintIdentification(ctx.out, name, id, reason);
    }
  }
  if (ctx.options.json) ctx.PrintJson({{"command", "identify"}, {"files", list}, {"exitStatus", status}});
  return status;
}

}  // namespace orvel
