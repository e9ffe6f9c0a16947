// orvel-cli convert on any file, through the whole command line (RunCli) with
// a working directory in memory: it exits with one of its statuses, never
// touches its input, leaves a whole file or none, decodes to a whole image,
// and what it encodes decodes back to the input. Converting moves whole
// images, so a run costs a few megabytes: this target is the slowest.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "firmware/identify.h"
#include "fuzz/input_layouts.h"
#include "fuzz/memory_directory.h"
#include "platform/forwarding_platform.h"
#include "tests/support/fake_platform.h"

namespace {

using namespace orvel;

void Require(bool ok) {
  if (!ok) std::abort();
}

// A platform with no drives whose working directory is `files`.
class MemoryPlatform final : public ForwardingPlatform {
 public:
  explicit MemoryPlatform(FileSystem& files)
      : ForwardingPlatform(std::make_unique<testing::FakePlatform>()), files_(files) {}
  FileSystem& Files() override { return files_; }

 private:
  FileSystem& files_;
};

struct Names {
  const char* encoded;
  const char* plain;
};
// The spellings convert must read its direction from.
constexpr std::array<Names, 4> kNames{{
    {"IN.KVF", "IN.BIN"},
    {"in.kvf", "in.bin"},
    {"./IN.KVF", "./IN.BIN"},
    {"fw.v2.Kvf", "fw.v2.bIN"},
}};

constexpr std::array<int, 7> kStatuses{kExitOk, kExitUsage, kExitNoUpdateMode, kExitTypeCodeRefused,
                                       kExitBackupFailed, kExitUpdateFailed, kExitNoSuchDriveOrFile};

int Convert(fuzz::MemoryDirectory& files, const std::string& in, const std::string& out, bool json) {
  CliEnvironment env;
  env.makePlatform = [&files](const PlatformRequest&, std::string*) -> std::unique_ptr<Platform> {
    return std::make_unique<MemoryPlatform>(files);
  };
  std::vector<const char*> argv{"orvel-cli", "--simulate"};
  if (json) argv.push_back("--json");
  argv.insert(argv.end(), {"convert", in.c_str(), out.c_str()});
  std::ostringstream output;
  std::ostringstream errors;
  const int status = RunCli(static_cast<int>(argv.size()), argv.data(), output, errors, env);
  Require(std::find(kStatuses.begin(), kStatuses.end(), status) != kStatuses.end());
  // Nothing half-written stays behind, whatever happened.
  Require(files.Writing() == 0 && files.openHandles == 0);
  Require(status == kExitOk ? files.Exists(out) : !files.Exists(out));
  // With --json, standard output is one document.
  if (json) Require(nlohmann::json::accept(output.str()));
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < fuzz::kConvertHeader) return 0;
  const std::uint8_t flags = data[0];
  const bool encode = (flags & fuzz::kConvertEncode) != 0;
  const bool json = (flags & fuzz::kConvertJson) != 0;
  const Names& names = kNames[(flags >> fuzz::kConvertNameShift) & fuzz::kConvertNameMask];
  const std::string in = encode ? names.plain : names.encoded;
  const std::string out = encode ? names.encoded : names.plain;

  fuzz::MemoryDirectory files;
  std::vector<std::uint8_t>& content = files.files[in];
  content.assign(data + fuzz::kConvertHeader, data + size);
  if ((flags & fuzz::kConvertPadImage) != 0 && content.size() < kFullImageSize) content.resize(kFullImageSize, 0xFF);

  const int status = Convert(files, in, out, json);
  const std::vector<std::uint8_t>& input = files.files[in];
  // The input as it was: the bytes given, then the padding.
  static const std::vector<std::uint8_t> erased(kFullImageSize, 0xFF);
  const std::size_t given = size - fuzz::kConvertHeader;
  Require(input.size() >= given && std::equal(data + fuzz::kConvertHeader, data + size, input.begin()) &&
          std::equal(input.begin() + static_cast<std::ptrdiff_t>(given), input.end(), erased.begin()));
  if (status != kExitOk) {
    Require(files.files.size() == 1);
    return 0;
  }
  const std::vector<std::uint8_t>& converted = files.files[out];
  if (!encode) {
    // A decoded file is a whole plain image of the family it was identified as.
    const SourceIdentification id = IdentifyFileBytes(input);
    Require(id.outcome == IdentifyOutcome::Identified && converted.size() == PlainImageSize(id.family));
    return 0;
  }
  // What was encoded decodes back to the image it came from (decoded aside, in a buffer kept for every run).
  const int row = FindRowForPlainImage(input);
  Require(row >= 0);
  const int family = TypeCodeRow(row).family;
  static ImageBuffer back;
  Require(converted.size() <= back.size());
  std::size_t length = converted.size();
  if (FormOfFamily(family) == FileForm::Packed) {
    Require(DecodePackedImageInto(converted, back));
    length = kFullImageSize;
  } else {
    std::copy(converted.begin(), converted.end(), back.begin());
    Require(DecodeImageFromFile(back, length, static_cast<std::uint8_t>(family), family) == 1);
  }
  Require(length == input.size() && std::equal(input.begin(), input.end(), back.begin()));
  return 0;
}
