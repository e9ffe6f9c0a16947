// Writes the seeds of every fuzz target, one directory per target, from the
// sample firmware code: small files of every family and form, the drive's side
// of update-mode entry for every loader, scenario texts, INQUIRY answers and
// sense data. Made at build time, so the seeds follow the code that reads them.
//
// usage: orvel_fuzz_seeds DIRECTORY   (its fuzz_* subdirectories are replaced)

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/catalogue.h"
#include "firmware/codec.h"
#include "firmware/sample_firmware.h"
#include "drive/discovery.h"
#include "sim/recording.h"
#include "sim/sim_machine.h"
#include "fuzz/input_layouts.h"
#include "sim/scenarios.h"
#include "sim/sim_drive.h"
#include "transport/scsi_transport.h"

namespace orvel::fuzz {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

constexpr std::uint8_t kErased = 0xFF;
constexpr std::size_t kSeedGranule = 1024;  // files cut just past their identification block, to this
constexpr const char* kDescription = "Seed firmware Ver 1.00";
constexpr std::uint32_t kSeedBase = 0x5EED0;
constexpr std::uint8_t kInquiryLengthBytes = 36;

// A type code of each family's catalogue rows (3-letter codes stand alone in a drive).
constexpr std::array<const char*, kFamilyCount> kCodes{"QDX", "QDX", "QDX41", "ZEB", "QDX51",
                                                      "QDX53", "QDX72", "QDX64", "KZTR9"};

class SeedDirectory {
 public:
  SeedDirectory(const fs::path& root, const char* target) : dir_(root / target) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    ok_ = fs::create_directories(dir_, ec) && !ec;
  }

  void Add(const std::string& name, std::span<const std::uint8_t> bytes) {
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ok_ = ok_ && out.good();
  }
  void Add(const std::string& name, std::string_view text) {
    Add(name, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  }
  bool ok() const { return ok_; }

 private:
  fs::path dir_;
  bool ok_ = false;
};

Bytes Concat(std::initializer_list<std::uint8_t> head, std::span<const std::uint8_t> rest) {
  Bytes out(head);
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

std::uint32_t IdOffsetOf(int family) { return TypeCodeRow(FindFamilyRow(family)).idOffset; }

// The length that keeps the identification block of `family` and little more.
std::size_t ShortLength(int family, std::size_t size) {
  const std::size_t end = IdOffsetOf(family) + kIdBlockSize;
  return std::min(size, (end + kSeedGranule - 1) / kSeedGranule * kSeedGranule);
}

// A plain image of the family; a packed family's keeps only one block of its
// body, so that its file is about 17 KiB.
Bytes SmallImage(int family) {
  Bytes image = MakePlainImage(family, kCodes[family], kDescription, kSeedBase + static_cast<std::uint32_t>(family));
  if (FormOfFamily(family) == FileForm::Packed) {
    std::fill(image.begin() + kPackedBodyStart + kKeyBlockSize, image.begin() + kPackedTrailerImageOffset, kErased);
  }
  return image;
}

// A file of the family in its own form, as short as identification allows,
// and at most kMaxFileSeed: a family-1 file, which keeps its code at the end of
// its 512 KiB, is cut there and identifies as nothing (a fuzzer would spend
// its time copying the rest).
Bytes SmallFile(int family) {
  constexpr std::size_t kMaxFileSeed = 160 * 1024;
  Bytes file = EncodeForFamily(family, SmallImage(family));
  if (FormOfFamily(family) != FileForm::Packed) file.resize(std::min(ShortLength(family, file.size()), kMaxFileSeed));
  return file;
}

// The start of an image up to and a little past the packed form's gap.
Bytes ImageHead(int family) {
  Bytes image = SmallImage(family);
  image.resize(std::min<std::size_t>(image.size(), kPackedBodyStart + kSeedGranule));
  return image;
}

std::string Name(const char* what, int family) { return std::string(what) + "-family" + std::to_string(family); }

void PutLe(Bytes& out, std::uint64_t v, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool Identify(const fs::path& root) {
  SeedDirectory d(root, "fuzz_identify");
  for (int f = 0; f < kFamilyCount; ++f) d.Add(Name("file", f), SmallFile(f));
  return d.ok();
}

bool Decode(const fs::path& root) {
  SeedDirectory d(root, "fuzz_decode");
  for (int f = 0; f < kFamilyCount; ++f) {
    if (FormOfFamily(f) == FileForm::Packed) d.Add(Name("packed", f), SmallFile(f));
  }
  // Stretched: blocks beyond the least length, a count, then a few bytes (zeros follow).
  struct Stretch {
    std::size_t extra;
    std::uint32_t count;
  };
  constexpr std::array<Stretch, 4> kStretches{{
      {0, kPackedRunMax},                                   // no block at all
      {kKeyBlockSize, kPackedRunMax - 1000},                // one block
      {kKeyBlockSize - 1, kPackedRunMax - 1000},            // one byte short of it
      {16 * kKeyBlockSize, kPackedRunMax - 16 * kKeyBlockSize},  // sixteen
  }};
  for (std::size_t i = 0; i < kStretches.size(); ++i) {
    Bytes seed;
    PutLe(seed, kStretches[i].extra, kStretchLengthBytes);
    PutLe(seed, kStretches[i].count, sizeof(std::uint32_t));
    for (std::uint8_t b = 0; b < 64; ++b) seed.push_back(static_cast<std::uint8_t>(b * 37));
    d.Add("stretch-" + std::to_string(i), seed);
  }
  return d.ok();
}

bool Encode(const fs::path& root) {
  SeedDirectory d(root, "fuzz_encode");
  for (int f = 0; f < kFamilyCount; ++f) {
    const auto family = static_cast<std::uint8_t>(f);
    d.Add(Name("image", f), Concat({family, family}, ImageHead(f)));
  }
  constexpr std::uint8_t kByteKeyed = 5;
  constexpr std::uint8_t kPacked = 6;
  // A blank drive of another form, and a gap with data in it.
  d.Add("byte-keyed-for-packed-drive", Concat({kByteKeyed, kPacked}, ImageHead(kByteKeyed)));
  Bytes full = ImageHead(kPacked);
  full[kPackedGapStart] = 0;
  d.Add("gap-not-erased", Concat({kPacked, kPacked}, full));
  return d.ok();
}

bool Convert(const fs::path& root) {
  SeedDirectory d(root, "fuzz_convert");
  for (int f = 0; f < kFamilyCount; ++f) {
    if (FormOfFamily(f) == FileForm::Plain) continue;
    const auto spelling = static_cast<std::uint8_t>((f % 4) << kConvertNameShift);
    d.Add(Name("decode", f), Concat({spelling}, SmallFile(f)));
    d.Add(Name("encode", f), Concat({static_cast<std::uint8_t>(kConvertEncode | kConvertPadImage | spelling)}, ImageHead(f)));
  }
  constexpr int kPlainFamily = 4;
  d.Add("decode-plain-json", Concat({kConvertJson}, SmallFile(kPlainFamily)));
  d.Add("encode-short-json", Concat({kConvertEncode | kConvertJson}, ImageHead(6)));
  return d.ok();
}

// The identification read of each loader, on both routes and read forms, and with faults.
bool UpdateMode(const fs::path& root) {
  SeedDirectory d(root, "fuzz_update_mode");
  const auto window = [](int row, std::string_view code) {
    const LoaderEntry& loader = LoaderRow(row);
    const Bytes image = sim::MakeDriveImage(loader.family, code, kDescription, kSeedBase);
    const std::size_t keep = TraitsOf(loader.family).loaderCodeOffset + kIdBlockSize;
    const std::size_t from = std::min<std::size_t>(loader.idAddress, image.size());
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(from),
                 image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), from + keep)));
  };
  const auto seed = [&](const std::string& name, int row, std::uint8_t flags, ModeFault fault, std::uint16_t field,
                        const Bytes& bytes) {
    Bytes s{static_cast<std::uint8_t>(row),
            static_cast<std::uint8_t>(flags | (static_cast<unsigned>(fault) << kModeFaultShift)),
            static_cast<std::uint8_t>(field & 0xFF), static_cast<std::uint8_t>(field >> 8)};
    s.insert(s.end(), bytes.begin(), bytes.end());
    d.Add(name, s);
  };
  for (int row = 0; row < static_cast<int>(kLoaderRows); ++row) {
    const int family = LoaderRow(row).family;
    const auto flags = static_cast<std::uint8_t>((row % 2 != 0 ? kModeAspi : 0) | (row % 3 == 0 ? kModeAlternateForm : 0));
    seed("loader" + std::to_string(row), row, flags, ModeFault::None, 0, window(row, kCodes[family]));
  }
  constexpr int kFamily4Loader = 5;
  constexpr int kFamily5Loader = 6;
  constexpr int kFamily6Loader = 7;
  constexpr std::uint16_t kHalfBlock = kDataBufferSize / 2;
  constexpr std::uint16_t kInvalidOpcode = 0x0020;  // ASC 20, ASCQ 00: the address form is refused
  const Bytes blank(kIdBlockSize, kErased);
  seed("blank", kFamily5Loader, kModeAspi, ModeFault::None, 0, blank);
  seed("raised-to-5", kFamily4Loader, 0, ModeFault::None, 0, window(kFamily4Loader, "QDX53"));
  seed("refuses-address-read", kFamily6Loader, kModeRefuseAddressRead, ModeFault::None, 0, window(kFamily6Loader, "QDX72"));
  seed("stays-normal", static_cast<int>(kLoaderRows), 0, ModeFault::None, 0, window(kFamily6Loader, "QDX72"));
  const Bytes code6 = window(kFamily6Loader, "QDX72");
  seed("short-aspi", kFamily6Loader, kModeAspi, ModeFault::Short, kHalfBlock, code6);
  seed("short-pass-through", kFamily6Loader, 0, ModeFault::Short, kHalfBlock, code6);
  seed("check-falls-back", kFamily6Loader, 0, ModeFault::Check, kInvalidOpcode, code6);
  seed("timeout-aspi", kFamily6Loader, kModeAspi, ModeFault::Timeout, 0, code6);
  seed("fail", kFamily6Loader, 0, ModeFault::Fail, 0, code6);
  seed("aborted-aspi", kFamily6Loader, kModeAspi | kModeAlternateForm, ModeFault::Aborted, 0, code6);
  seed("inquiry-short", kFamily6Loader, 0, ModeFault::InquiryShort, 20, code6);
  seed("second-switch-refused", kFamily6Loader, kModeAspi, ModeFault::SecondSwitchCheck, kInvalidOpcode, code6);
  return d.ok();
}

bool Scenario(const fs::path& root, const char* target) {
  SeedDirectory d(root, target);
  for (const sim::Scenario& s : sim::Scenarios()) d.Add("name-" + std::string(s.name), s.name);
  constexpr std::array<const char*, 16> kTexts{
      "default,fault=aa:3:check:04/00",
      "ten-byte-chunks,fault=e2:3:check:04/00",
      "aspi,fault=e3@0:2:short:8192",
      "default,fault=12@1:1+:timeout",
      "aspi,fault=any:2+:aborted,pending",
      "default,fault=12:1:fail,no-open=2",
      "default,fault=a8:1:check:3/11/00",
      "default,disk-full=100000,sync-fails",
      "default,file-short=4096",
      "default,no-open=9",
      "aspi,platform=2",
      "default,platform=0,unknown=1",
      // Refused when the machine is built: no such drive, or no device names to swap.
      "default,no-access=166",
      "default,swap=0:9",
      "aspi,swap=0:1",
      "every-family,no-access=20,pending",
  };
  for (std::size_t i = 0; i < kTexts.size(); ++i) d.Add("options-" + std::to_string(i), std::string_view(kTexts[i]));
  return d.ok();
}

// A standard INQUIRY answer of 36 bytes.
Bytes InquiryAnswer(std::uint8_t peripheral, std::string_view vendor, std::span<const char> product) {
  Bytes a(kInquiryLengthBytes, ' ');
  a[0] = peripheral;
  a[1] = 0x80;  // removable
  a[2] = 0x02;
  a[3] = 0x02;
  a[4] = kInquiryLengthBytes - 5;
  a[5] = a[6] = a[7] = 0;
  std::copy_n(vendor.begin(), std::min<std::size_t>(vendor.size(), 8), a.begin() + 8);
  std::copy_n(product.begin(), std::min<std::size_t>(product.size(), kProductIdLength), a.begin() + 16);
  std::copy_n("1.10", 4, a.begin() + 32);
  return a;
}

bool Inquiry(const fs::path& root) {
  SeedDirectory d(root, "fuzz_inquiry");
  constexpr std::uint8_t kCdrom = 0x05;
  constexpr std::uint8_t kDisk = 0x00;
  constexpr std::array<std::size_t, 4> kRows{0, 10, 20, 84};  // three drives and a loader
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    const auto selector = static_cast<std::uint8_t>((i % 2) | (i << 1));  // both routes, several numbers
    d.Add("row" + std::to_string(kRows[i]),
          Concat({selector, kInquiryLengthBytes}, InquiryAnswer(kCdrom, "TESSARO ", ProductIdTable[kRows[i]])));
  }
  d.Add("short-answer", Concat({1, 20}, InquiryAnswer(kCdrom, "TESSARO ", ProductIdTable[0])));
  d.Add("disk", Concat({3, kInquiryLengthBytes}, InquiryAnswer(kDisk, "GENERIC ", ProductIdTable[0])));
  return d.ok();
}

bool Sense(const fs::path& root) {
  SeedDirectory d(root, "fuzz_sense");
  const Bytes fixed{0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0};
  const Bytes deferred{0xF1, 0, 0x02, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x04, 0x01, 0, 0, 0, 0};
  const Bytes descriptor{0x72, 0x03, 0x11, 0x00, 0, 0, 0, 0};
  const Bytes descriptorDeferred{0x73, 0x02, 0xF7, 0x02, 0, 0, 0, 0};
  d.Add("fixed", fixed);
  d.Add("fixed-deferred", deferred);
  d.Add("descriptor", descriptor);
  d.Add("descriptor-deferred", descriptorDeferred);
  return d.ok();
}

// Recordings of the discovery on machines of both routes, with faults, and
// with every transfer hashed or kept.
bool Replay(const fs::path& root) {
  SeedDirectory d(root, "fuzz_replay");
  constexpr const char* kMachines[] = {"default", "aspi", "aspi-pending", "drive-letter", "no-open", "aspi-aborted"};
  for (const char* machine : kMachines) {
    for (const bool keep : {false, true}) {
      std::string error;
      std::unique_ptr<Platform> sim = sim::MakeScenario(machine, "/nonexistent/orvel-seeds", &error);
      if (!sim) return false;
      auto recording = std::make_shared<Recording>();
      RecordingPlatform recorder(std::move(sim), recording, "0.0.0", keep);
      {
        ScsiTransport transport(recorder);
        TransportMessage message;
        if (transport.SelectTransport(&message)) DiscoverDrives(transport);
      }
      d.Add(std::string(machine) + (keep ? "-kept" : ""), RecordingText(*recording));
    }
  }
  return d.ok();
}

}  // namespace
}  // namespace orvel::fuzz

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  using namespace orvel::fuzz;
  const fs::path root(argv[1]);
  const bool ok = Identify(root) && Decode(root) && Encode(root) && Convert(root) && UpdateMode(root) &&
                  Scenario(root, "fuzz_scenario") && Scenario(root, "fuzz_scenario_machine") && Inquiry(root) && Sense(root) &&
                  Replay(root);
  if (!ok) {
    std::fprintf(stderr, "%s: could not write the seeds under %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
