// File identification and loading on arbitrary file contents, through a
// one-file working directory in memory: what is identified loads for a drive
// of its own family, and for a blank drive of any family nothing breaks.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "firmware/identify.h"
#include "tests/support/memory_files.h"

namespace {

using namespace orvel;

constexpr const char* kEncodedName = "F.KVF";
constexpr const char* kPlainName = "F.BIN";

void Require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  testing::MemoryFileSystem files;
  files.files[kEncodedName].assign(data, data + size);
  const SourceIdentification id = IdentifyFile(files, kEncodedName);
  Require(files.openHandles == 0);
  if (id.outcome != IdentifyOutcome::Identified) return 0;
  Require(id.description.size() == kDescriptionLength && id.typePassKey[8] == '\0');
  Require(std::none_of(id.description.begin(), id.description.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7F;
  }));

  // Loaded under a name that fits its row: for a drive of its own family it
  // must load; a blank drive of another family (the input's length picks it)
  // takes any identified file, and then only nothing may break.
  const char* name = TypeCodeRow(id.entryIndex).encoded != 0 ? kEncodedName : kPlainName;
  if (name != kEncodedName) files.files[name] = std::move(files.files[kEncodedName]);
  const bool ownFamily = size % 2 == 0;
  const int driveFamily = ownFamily ? id.family : static_cast<int>(size / 2 % kFamilyCount);
  std::unique_ptr<ImageBuffer> buffer;
  LoadReport report;
  const int loaded = LoadSourceImage(files, name, id.entryIndex, id.family, driveFamily, buffer, &report);
  Require(files.openHandles == 0);
  if (ownFamily) Require(loaded == 1);
  if (loaded == 1) {
    Require(report.plainLength <= kFullImageSize);
    if (FormOfFamily(driveFamily) == FileForm::Packed && TypeCodeRow(id.entryIndex).encoded != 0) {
      Require(report.plainLength == kFullImageSize);
    }
  }
  return 0;
}
