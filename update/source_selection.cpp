#include <string>

#include "firmware/catalogue.h"
#include "firmware/identify.h"
#include "update/update_procedure.h"

namespace orvel {

std::string SourceFileMisfit(FileSystem& fs, std::string_view name, int entryIndex, FileError* openError) {
  if (openError != nullptr) *openError = FileError::None;
  const TypeCodeEntry& row = TypeCodeRow(entryIndex);
  const std::string quoted = "\"" + std::string(name) + "\"";
  if (!NameFitsRow(name, entryIndex)) {
    return quoted + " holds a family-" + std::to_string(row.family) + " file, which " +
           (row.encoded == 1 ? "must be named .KVF" : "must not be named .KVF");
  }
  FileError error = FileError::None;
  const FileHandle h = fs.OpenRead(name, &error);
  if (h == kNoFile) {
    if (openError != nullptr) *openError = error;
    return quoted + " does not open: " + FileErrorText(error);
  }
  const std::int64_t length = fs.Length(h);
  fs.Close(h);
  if (length < 0) return quoted + ": its length cannot be read";
  if (!SizeFitsRow(static_cast<std::uint64_t>(length), entryIndex)) {
    const bool packed = row.encoded == 1 && FormOfFamily(row.family) == FileForm::Packed;
    return quoted + " has " + std::to_string(length) + " bytes; a family-" + std::to_string(row.family) +
           " file has " + (packed ? "1 to " + std::to_string(kFullImageSize) : std::to_string(PlainImageSize(row.family)));
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
