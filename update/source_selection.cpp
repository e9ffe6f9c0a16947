#include <string>

#include "firmware/catalogue.h"
#include "firmware/identify.h"
#include "update/update_procedure.h"
#include "update/update_steps.h"

namespace orvel {

std::string SourceFileMisfit(FileSystem& fs, std::string_view name, int entryIndex, FileError* openError,
                             int language) {
  using update_steps::Worded;
  if (openError != nullptr) *openError = FileError::None;
  const TypeCodeEntry& row = TypeCodeRow(entryIndex);
  const std::string quoted = "\"" + std::string(name) + "\"";
  if (!NameFitsRow(name, entryIndex)) {
    const std::string family = std::to_string(row.family);
    if (row.encoded == 1) {
      return Worded(language, quoted + " holds a family-" + family + " file, which must be named .KVF",
                    quoted + " はファミリー " + family + " のファイルで、名前は .KVF でなければなりません");
    }
    return Worded(language, quoted + " holds a family-" + family + " file, which must not be named .KVF",
                  quoted + " はファミリー " + family + " のファイルで、名前を .KVF にしてはいけません");
  }
  FileError error = FileError::None;
  const FileHandle h = fs.OpenRead(name, &error);
  if (h == kNoFile) {
    if (openError != nullptr) *openError = error;
    return quoted + Worded(language, " does not open: ", " を開けません: ") + FileErrorText(error, language);
  }
  const std::int64_t length = fs.Length(h);
  fs.Close(h);
  if (length < 0) return quoted + Worded(language, ": its length cannot be read", ": 長さを読み取れません");
  if (!SizeFitsRow(static_cast<std::uint64_t>(length), entryIndex)) {
    const bool packed = row.encoded == 1 && FormOfFamily(row.family) == FileForm::Packed;
    const std::string has = std::to_string(length);
    const std::string family = std::to_string(row.family);
    const std::string fits =
        packed ? "1 " + Worded(language, "to", "～") + " " + std::to_string(kFullImageSize)
               : std::to_string(PlainImageSize(row.family));
    return Worded(language, quoted + " has " + has + " bytes; a family-" + family + " file has " + fits,
                  quoted + " は " + has + " バイトです。ファミリー " + family + " のファイルは " + fits + " バイトです");
  }
  return {};
}

void UpdateProcedure::IdentifySourceFile() {
  std::string name = host_.SelectedSourceName();
  if (name.empty()) return;

  sourceDescription.clear();
  const SourceIdentification id = IdentifyFile(transport_.GetPlatform().Files(), name);
  switch (id.outcome) {
    case IdentifyOutcome::DidNotOpen:
      selectionIdentified = false;
      typePassKey[0] = '\0';
      host_.PushMembers();
      return;
    case IdentifyOutcome::Empty:
    case IdentifyOutcome::NotDecodable:
    case IdentifyOutcome::NoRow:
    case IdentifyOutcome::TooLarge:
      // A file over 1 MiB cannot be held by the image buffer: treated as unknown.
      selectionIdentified = false;
      backupFileName.clear();
      host_.SetBackupCheckState(0);
      host_.PushMembers();
      return;
    case IdentifyOutcome::Identified:
      break;
  }
  sourceTypeCode = id.typeCode;
  sourceDescription = id.description;
  typePassKey = id.typePassKey;
  sourceEntryIndex = id.entryIndex;
  sourceFamily = id.family;
  identifiedName = std::move(name);
  selectionIdentified = true;
  host_.PushMembers();
  ChooseBackupFileName();
}

}  // namespace orvel
