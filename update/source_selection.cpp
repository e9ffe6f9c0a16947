#include <string>

#include "firmware/identify.h"
#include "update/update_procedure.h"

namespace orvel {

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
