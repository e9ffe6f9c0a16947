// File identification and loading on arbitrary file contents, through a
// one-file working directory in memory.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "firmware/identify.h"

namespace {

class OneFileSystem final : public orvel::FileSystem {
 public:
  explicit OneFileSystem(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  orvel::FileHandle OpenRead(std::string_view, orvel::FileError* err) override {
    *err = orvel::FileError::None;
    ++open_;
    return kHandle;
  }
  std::int64_t Length(orvel::FileHandle) override { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t ReadAt(orvel::FileHandle, std::uint64_t offset, std::span<std::uint8_t> out) override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::size_t>(out.size(), bytes_.size() - offset);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
    return static_cast<std::int64_t>(n);
  }
  void Close(orvel::FileHandle) override { --open_; }
  orvel::FileHandle CreateExclusive(std::string_view, orvel::FileError* err) override {
    *err = orvel::FileError::AccessDenied;
    return orvel::kNoFile;
  }
  bool WriteAll(orvel::FileHandle, std::span<const std::uint8_t>, orvel::FileError*) override { return false; }
  bool SyncAndClose(orvel::FileHandle, orvel::FileError*) override { return false; }
  bool Remove(std::string_view) override { return false; }
  bool Exists(std::string_view) override { return true; }
  bool RenameNoReplace(std::string_view, std::string_view, orvel::FileError*) override { return false; }
  std::vector<std::string> ListRegularFiles(std::string_view) override { return {}; }
  bool Reserve(orvel::FileHandle, std::uint64_t, orvel::FileError*) override { return false; }
  bool SyncDirectory(orvel::FileError*) override { return true; }

  int open() const { return open_; }

 private:
  static constexpr orvel::FileHandle kHandle = 3;
  std::span<const std::uint8_t> bytes_;
  int open_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OneFileSystem files(std::span(data, size));
  const orvel::SourceIdentification id = orvel::IdentifyFile(files, "F.KVF");
  if (files.open() != 0) std::abort();
  if (id.outcome != orvel::IdentifyOutcome::Identified) return 0;
  if (id.description.size() != orvel::kDescriptionLength || id.typePassKey[8] != '\0') std::abort();
  if (std::any_of(id.description.begin(), id.description.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7F; })) {
    std::abort();
  }
  // Load what was identified, with the drive of its own family.
  std::unique_ptr<orvel::ImageBuffer> buffer;
  orvel::LoadReport report;
  const char* name = orvel::TypeCodeRow(id.entryIndex).encoded != 0 ? "F.KVF" : "F.BIN";
  const int loaded = orvel::LoadSourceImage(files, name, id.entryIndex, id.family, id.family, buffer, &report);
  if (files.open() != 0) std::abort();
  if (loaded == 1 && report.plainLength > orvel::kFullImageSize) std::abort();
  return 0;
}
