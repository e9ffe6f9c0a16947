#include <array>
#include <vector>

#include "cli/cli_context.h"
#include "firmware/catalogue.h"
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
    case IdentifyOutcome::NotDecodable:
      return "no matching type code";
    case IdentifyOutcome::Empty:
      return "no matching type code: the file is empty";
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

std::string WhyNotIdentified(const std::string& name, const SourceIdentification& id) {
  std::string reason = IdentifyReason(id);
  // Which form a file has follows from its family alone, not from its name; a
  // name that promises an encoded file gets told what the packed decoder made of it.
  if (id.outcome == IdentifyOutcome::NotDecodable && LastExtension(name) == "kvf") {
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
    const std::string reason = WhyNotIdentified(name, id);
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
      PrintIdentification(ctx.out, name, id, reason);
    }
  }
  ctx.PrintDocument({{"files", list}}, status);
  return status;
}

}  // namespace orvel
