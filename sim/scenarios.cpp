#include "sim/scenarios.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <functional>
#include <optional>

#include "firmware/catalogue.h"
#include "firmware/sample_firmware.h"
#include "platform/request_blocks.h"

namespace orvel::sim {
namespace {

constexpr std::array<SampleDrive, 3> kDefaultDrives{{
    {6, "QDX72", "Tessaro CW-7240 Ver 1.10", "Tessaro CW-7240 Ver 1.32", "CW724132.KVF", 0x7240110, 0x7240132},
    {4, "QDX51", "Tessaro CW-5160 Ver 2.02", "Tessaro CW-5160 Ver 2.15", "CW516215.BIN", 0x5160202, 0x5160215},
    {2, "QDX41", "Tessaro CR-4120 Ver 3.00", "Tessaro CR-4120 Ver 3.04", "CR412304.BIN", 0x4120300, 0x4120304},
}};
// Which normal product identification each default drive reports.
constexpr std::array<int, 3> kDefaultProductRows{0, 10, 20};
constexpr int kMisfitFamily = 8;
constexpr const char* kMisfitTypeCode = "KZTR9";
constexpr const char* kMisfitDescription = "Kestrel DW-9000 Ver 2.00";
constexpr std::uint32_t kMisfitSeed = 0x9000200;

constexpr const char* kOtherVendor = "GENERIC ";
constexpr const char* kOtherProduct = "DVD-ROM DR-1620 ";
constexpr int kOtherFamily = 6;
constexpr std::uint32_t kOtherSeed = 0x1620;
constexpr const char* kUnknownTypeCode = "XYZ99";
constexpr std::size_t kShortTypeCode = 4;
constexpr std::uint8_t kErased = 0xFF;

constexpr const char* kCdromPrefix = "\\\\.\\cdrom";

// One drive per loader row, in LoaderTable order (families 0, 0, 2, 3, 1, 4,
// 5, 6, 7, 8), so that every loader identification and every family shows;
// then two drives whose codes raise family 4 to 5 (on the family-4 loader by
// '9', on the family-5 loader by a byte above ASCII), then a blank drive of
// every family on the family's first loader row. Product rows: a model of the
// family's group in ProductIdTable.
constexpr std::array<FamilyDrive, 21> kEveryFamilyDrives{{
    {0, 0, 0, "QDX", "Tessaro CRW-2208 Ver 1.02", "Tessaro CRW-2208 Ver 1.10", "ROW0F0.BIN", 0xF0001, 0xF0002},
    {0, 1, 6, "Uv-", "Kesta CDRW 4/4/24 Ver 2.00", "Kesta CDRW 4/4/24 Ver 2.04", "ROW1F0.BIN", 0xF0101, 0xF0102},
    {2, 2, 16, "QDX43", "Tessaro CRW-1210 Ver 1.20", "Tessaro CRW-1210 Ver 1.31", "ROW2F2.BIN", 0xF2201, 0xF2202},
    {3, 3, 25, "ZEB", "Tessaro ZR-4420U Ver 0.90", "Tessaro ZR-4420U Ver 0.95", "ROW3F3.BIN", 0xF3301, 0xF3302},
    {1, 4, 10, "QDX", "Tessaro CRW-8812 Ver 1.00", "Tessaro CRW-8812 Ver 1.06", "ROW4F1.BIN", 0xF1401, 0xF1402},
    {4, 5, 32, "QDX50", "Tessaro CRW-1610 Ver 3.10", "Tessaro CRW-1610 Ver 3.12", "ROW5F4.BIN", 0xF4501, 0xF4502},
    {5, 6, 44, "QDX52", "Tessaro DRW-2400 Ver 1.00", "Tessaro DRW-2400 Ver 1.05", "ROW6F5.KVF", 0xF5601, 0xF5602},
    {6, 7, 51, "QDX77", "Tessaro DRW-7040 Ver 2.00", "Tessaro DRW-7040 Ver 2.11", "ROW7F6.KVF", 0xF6701, 0xF6702},
    {7, 8, 61, "QDX66", "Tessaro DRW-6040 Ver 1.40", "Tessaro DRW-6040 Ver 1.52", "ROW8F7.KVF", 0xF7801, 0xF7802},
    {8, 9, 71, "KZTR5", "Kestrel DXR-8016 Ver 1.00", "Kestrel DXR-8016 Ver 1.20", "ROW9F8.KVF", 0xF8901, 0xF8902},
    {5, 5, 45, "QDX59", "Tessaro DRW-2400S Ver 1.90", "Tessaro DRW-2400S Ver 1.93", "RAISEF5.KVF", 0xF5501, 0xF5502},
    {5, 6, 46, "QDX5\x80", "Tessaro DRW-2402 Ver 0.99", nullptr, nullptr, 0xF5681, 0},
    {0, 0, 1, nullptr, nullptr, nullptr, nullptr, 0, 0},
    {1, 4, 11, nullptr, nullptr, nullptr, nullptr, 0, 0},
    {2, 2, 17, nullptr, nullptr, nullptr, nullptr, 0, 0},
    {3, 3, 26, nullptr, nullptr, nullptr, nullptr, 0, 0},
    {4, 5, 33, nullptr, nullptr, nullptr, nullptr, 0, 0},
    {5, 6, 45, nullptr, nullptr, nullptr, nullptr, 0, 0},
    {6, 7, 52, nullptr, nullptr, nullptr, nullptr, 0, 0},
    {7, 8, 62, nullptr, nullptr, nullptr, nullptr, 0, 0},
    {8, 9, 72, nullptr, nullptr, nullptr, nullptr, 0, 0},
}};
// The pass-through names stop at cdrom9: the machine is an ASPI one, with as
// many adapters as its drives need.
constexpr std::uint8_t kEveryFamilyAdapters =
    static_cast<std::uint8_t>((kEveryFamilyDrives.size() + kTargetsPerAdapter - 1) / kTargetsPerAdapter);

std::uint32_t FamilyIdOffset(int family) {
  for (std::size_t i = 0; i < kTypeCodeRows; ++i) {
    const TypeCodeEntry& row = TypeCodeRow(static_cast<int>(i));
    if (row.family == family) return row.idOffset;
  }
  return 0;
}

std::unique_ptr<SimDrive> MakeDefaultDrive(std::size_t index, DriveBehaviour behaviour = {}) {
  const SampleDrive& d = kDefaultDrives[index];
  DriveIdentity id;
  id.product = NormalProductId(kDefaultProductRows[index]);
  return std::make_unique<SimDrive>(d.family, id, MakeDriveImage(d.family, d.typeCode, d.installed, d.installedSeed),
                                    std::move(behaviour));
}

std::unique_ptr<SimDrive> MakeOtherDevice() {
  DriveIdentity id;
  id.vendor = kOtherVendor;
  id.product = kOtherProduct;
  id.revision = "1.00";
  DriveBehaviour b;
  b.switchesToUpdateMode = false;
  return std::make_unique<SimDrive>(kOtherFamily, id, std::vector<std::uint8_t>(PlainImageSize(kOtherFamily), kErased), b);
}

std::string CdromName(int n) { return kCdromPrefix + std::to_string(n); }

// The default set of drives, addressed by cdrom names and by ASPI targets.
void AddDefaultDrives(SimMachine& m) {
  for (std::size_t i = 0; i < kDefaultDrives.size(); ++i) {
    m.AddDrive(MakeDefaultDrive(i), Attachment{CdromName(static_cast<int>(i)), 0, static_cast<std::uint8_t>(i)});
  }
  m.AddDrive(MakeOtherDevice(), Attachment{CdromName(static_cast<int>(kDefaultDrives.size())), 0,
                                           static_cast<std::uint8_t>(kDefaultDrives.size())});
}

void AddEveryFamilyDrives(SimMachine& m) {
  m.Aspi().adapterCount = kEveryFamilyAdapters;
  for (std::size_t i = 0; i < kEveryFamilyDrives.size(); ++i) {
    const FamilyDrive& d = kEveryFamilyDrives[i];
    DriveIdentity id;
    id.product = NormalProductId(d.productRow);
    DriveBehaviour behaviour;
    behaviour.loaderRow = d.loaderRow;
    const bool blank = d.typeCode == nullptr;
    std::vector<std::uint8_t> flash = blank ? std::vector<std::uint8_t>(PlainImageSize(d.family), kErased)
                                            : MakeDriveImage(d.family, d.typeCode, d.installed, d.installedSeed);
    const Attachment where{CdromName(static_cast<int>(i)), static_cast<std::uint8_t>(i / kTargetsPerAdapter),
                           static_cast<std::uint8_t>(i % kTargetsPerAdapter)};
    SimDrive& drive =
        m.AddDrive(std::make_unique<SimDrive>(d.family, id, std::move(flash), std::move(behaviour)), where);
    // Nothing to start from an erased flash: the drive waits in its loader.
    if (blank) drive.StartInUpdateMode();
  }
}

bool ParseHex(std::string_view text, unsigned limit, unsigned* out) {
  unsigned v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v, 16);
  if (text.empty() || r.ec != std::errc{} || r.ptr != text.data() + text.size() || v > limit) return false;
  *out = v;
  return true;
}

bool ParseDecimal(std::string_view text, std::uint64_t* out) {
  std::uint64_t v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v, 10);
  if (text.empty() || r.ec != std::errc{} || r.ptr != text.data() + text.size()) return false;
  *out = v;
  return true;
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return parts;
}

std::uint8_t DefaultKeyFor(std::uint8_t asc) {
  constexpr std::uint8_t kAscNotReady = 0x04;
  constexpr std::uint8_t kAscNoMedium = 0x3A;
  constexpr std::uint8_t kAscPhase = 0xF7;
  return asc == kAscNotReady || asc == kAscNoMedium || asc == kAscPhase ? kKeyNotReady : kKeyIllegalRequest;
}

constexpr unsigned kByteMax = 0xFF;
constexpr unsigned kKeyMax = 0xF;
constexpr std::uint64_t kMaxRenamesTaken = 100;

// create-fails=<reason>: the error every creation meets.
std::optional<FileError> CreateFailure(std::string_view reason) {
  if (reason == "denied") return FileError::AccessDenied;
  if (reason == "read-only") return FileError::ReadOnly;
  if (reason == "no-space") return FileError::NoSpace;
  return std::nullopt;
}

bool ParseFault(std::string_view text, FaultRule* rule, std::string* error) {
  const std::vector<std::string_view> parts = Split(text, ':');
  const auto fail = [&](const char* why) {
    if (error != nullptr) *error = std::string("fault \"") + std::string(text) + "\": " + why;
    return false;
  };
  if (parts.size() < 3) return fail("expected <op>[@<drive>]:<n>[+]:<kind>");
  std::string_view op = parts[0];
  if (const std::size_t at = op.find('@'); at != std::string_view::npos) {
    std::uint64_t drive = 0;
    if (!ParseDecimal(op.substr(at + 1), &drive) || drive > kByteMax) return fail("bad drive index");
    rule->drive = static_cast<int>(drive);
    op = op.substr(0, at);
  }
  if (op == "any") {
    rule->opcode = kAnyOpcode;
  } else {
    unsigned v = 0;
    if (!ParseHex(op, kByteMax, &v)) return fail("bad opcode (hex, or \"any\")");
    rule->opcode = static_cast<int>(v);
  }
  std::string_view n = parts[1];
  if (!n.empty() && n.back() == '+') {
    rule->onward = true;
    n.remove_suffix(1);
  }
  std::uint64_t occurrence = 0;
  if (!ParseDecimal(n, &occurrence) || occurrence == 0 || occurrence > UINT32_MAX) return fail("bad occurrence (1 or more)");
  rule->occurrence = static_cast<std::uint32_t>(occurrence);

  const std::string_view kind = parts[2];
  if (kind == "check") {
    if (parts.size() != 4) return fail("check needs <asc>/<ascq> or <key>/<asc>/<ascq>");
    const std::vector<std::string_view> codes = Split(parts[3], '/');
    unsigned key = 0, asc = 0, ascq = 0;
    if (codes.size() == 2) {
      if (!ParseHex(codes[0], kByteMax, &asc) || !ParseHex(codes[1], kByteMax, &ascq)) return fail("bad sense codes");
      key = DefaultKeyFor(static_cast<std::uint8_t>(asc));
    } else if (codes.size() == 3) {
      if (!ParseHex(codes[0], kKeyMax, &key) || !ParseHex(codes[1], kByteMax, &asc) || !ParseHex(codes[2], kByteMax, &ascq)) {
        return fail("bad sense codes");
      }
    } else {
      return fail("check needs <asc>/<ascq> or <key>/<asc>/<ascq>");
    }
    rule->kind = FaultKind::Check;
    rule->sense = Sense{static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(asc), static_cast<std::uint8_t>(ascq)};
    return true;
  }
  if (kind == "short") {
    std::uint64_t bytes = 0;
    if (parts.size() != 4 || !ParseDecimal(parts[3], &bytes) || bytes > UINT32_MAX) return fail("short needs <bytes>");
    rule->kind = FaultKind::ShortData;
    rule->shortBytes = static_cast<std::uint32_t>(bytes);
    return true;
  }
  if (parts.size() != 3) return fail("unexpected argument");
  if (kind == "timeout") {
    rule->kind = FaultKind::Timeout;
  } else if (kind == "fail") {
    rule->kind = FaultKind::Fail;
  } else if (kind == "aborted") {
    rule->kind = FaultKind::Aborted;
  } else {
    return fail("unknown kind (check, timeout, short, fail, aborted)");
  }
  return true;
}

FaultRule Rule(int opcode, int drive, std::uint32_t occurrence, bool onward, FaultKind kind, Sense sense = {},
               std::uint32_t shortBytes = 0) {
  FaultRule r;
  r.opcode = opcode;
  r.drive = drive;
  r.occurrence = occurrence;
  r.onward = onward;
  r.kind = kind;
  r.sense = sense;
  r.shortBytes = shortBytes;
  return r;
}

constexpr int kOpInquiry = 0x12;
constexpr int kOpPoll = 0x00;
constexpr int kOpChunk10 = 0xE2;
constexpr int kOpReadAddress = 0xE3;
constexpr std::uint32_t kHalfBlock = 8192;
constexpr std::uint64_t kDiskFullBytes = 65536;
constexpr std::uint32_t kResendChunk = 2;
constexpr std::uint32_t kResendTimes = 2;
constexpr std::uint32_t kBusyPolls = 4;
constexpr std::uint32_t kFailingChunk = 5;
constexpr std::uint32_t kTimedOutPoll = 3;
constexpr std::uint8_t kFinishOnlyVariant2 = 0x04;
constexpr std::size_t kFamily5Drive = 0;

// The first default drive, the one most scenarios change.
DriveBehaviour& FirstBehaviour(SimMachine& m) { return m.Drive(0).Behaviour(); }

// Every scenario, in the order of --help and the README's table.
constexpr Scenario kScenarios[] = {
    {"default", "NT: cdrom0 family 6, cdrom1 family 4, cdrom2 family 2, cdrom3 unsupported; older firmware",
     kPlatformNt, [](SimMachine& m) { AddDefaultDrives(m); }},
    {"aspi", "Windows 98 with ASPI: the default drives at HA 0 ID 0..3", kPlatformWindows,
     [](SimMachine& m) { AddDefaultDrives(m); }},
    {"aspi-pending", "as aspi; every request answers SS_PENDING before its final status", kPlatformWindows,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.Aspi().pending = true;
     }},
    {"aspi-no-library", "Windows 98 without WNASPI32.DLL", kPlatformWindows,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.Aspi().libraryPresent = false;
     }},
    {"aspi-no-entry", "WNASPI32.DLL without SendASPI32Command", kPlatformWindows,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.Aspi().hasSendCommand = false;
     }},
    {"aspi-no-manager", "ASPI support info with status 0xE8 (no adapters)", kPlatformWindows,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.Aspi().supportStatus = srb::SS_NO_ADAPTERS;
     }},
    {"aspi-no-adapters", "ASPI support info SS_COMP with 0 host adapters", kPlatformWindows,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.Aspi().adapterCount = 0;
     }},
    {"aspi-aborted", "as aspi; every INQUIRY ends with SS_ABORTED", kPlatformWindows,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.AddFault(Rule(kOpInquiry, kAnyDrive, 1, true, FaultKind::Aborted));
     }},
    {"drive-letter", "NT without cdrom names: drives at C:, E: and N: (only E: is reachable)", kPlatformNt,
     [](SimMachine& m) {
       m.AddDrive(MakeDefaultDrive(0), Attachment{"\\\\.\\e:", 0, 0});
       m.AddDrive(MakeDefaultDrive(1), Attachment{"\\\\.\\c:", 0, 1});
       m.AddDrive(MakeDefaultDrive(2), Attachment{"\\\\.\\n:", 0, 2});
       m.AddDrive(MakeOtherDevice(), Attachment{"\\\\.\\f:", 0, 3});
     }},
    {"platform-0", "platform id 0 (Win32s)", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.SetPlatformId(kPlatformWin32s);
     }},
    {"blank-flash", "cdrom0 (family 6) has an erased flash", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       std::fill(m.Drive(0).MutableFlash().begin(), m.Drive(0).MutableFlash().end(), kErased);
     }},
    {"no-update-mode", "cdrom0 refuses to switch to update mode", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       FirstBehaviour(m).switchesToUpdateMode = false;
     }},
    {"unknown-type", "cdrom0's identification block holds an unknown type code", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       const SampleDrive& d = kDefaultDrives[0];
       const std::vector<std::uint8_t> image = MakeDriveImage(d.family, kUnknownTypeCode, d.installed, d.installedSeed);
       std::copy(image.begin(), image.end(), m.Drive(0).MutableFlash().begin());
     }},
    {"alt-read", "cdrom0 refuses the address read form 0xE3 (0xA8 works): no backup is possible", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       FirstBehaviour(m).refuseAddressRead = true;
     }},
    {"ten-byte-chunks", "cdrom0 refuses 12-byte chunks 0xAA with 5/24/00", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       FirstBehaviour(m).refuseTwelveByteChunks = true;
       FirstBehaviour(m).twelveByteRefusal = Sense{kKeyIllegalRequest, 0x24, 0x00};
     }},
    {"finish-variant-2", "cdrom0 accepts only FinishTransfer variant 2", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       FirstBehaviour(m).acceptedFinishVariants = kFinishOnlyVariant2;
     }},
    {"skip-phases", "cdrom0 reports only the erase and write phases", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       FirstBehaviour(m).phaseScript = {{0x01, 3}, {0x02, 4}};
     }},
    {"repeat-phase", "cdrom0 reports writing, checking, writing again, checking", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       FirstBehaviour(m).phaseScript = {{0x02, 3}, {0x03, 1}, {0x02, 2}, {0x03, 2}};
     }},
    {"busy-polls", "cdrom0 answers busy (CHECK 5/20/00) for 4 polls before the first phase", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       FirstBehaviour(m).busyPollsBefore = kBusyPolls;
       FirstBehaviour(m).busyAsCheck = true;
     }},
    {"resend-chunk", "cdrom0 asks for its third chunk twice more (2/3A/00)", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       FirstBehaviour(m).resendChunkIndex = kResendChunk;
       FirstBehaviour(m).resendTimes = kResendTimes;
     }},
    {"rewrite-fails", "cdrom0 fails the rewrite after erasing (3/0C/00); flash left erased", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       FirstBehaviour(m).phaseScript = {{0x00, 2}, {0x01, 3}};
       FirstBehaviour(m).rewriteFails = true;
     }},
    {"chunk-fails", "cdrom0 refuses 0xAA; its fifth 0xE2 chunk fails with 4/44/00", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       FirstBehaviour(m).refuseTwelveByteChunks = true;
       m.AddFault(Rule(kOpChunk10, 0, kFailingChunk, false, FaultKind::Check, Sense{0x4, 0x44, 0x00}));
     }},
    {"timeout-poll", "the third poll of cdrom0 outlasts the time-out", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.AddFault(Rule(kOpPoll, 0, kTimedOutPoll, false, FaultKind::Timeout));
     }},
    {"short-read", "cdrom0's address-form firmware reads deliver 8192 of 16384 bytes", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.AddFault(Rule(kOpReadAddress, 0, 1, true, FaultKind::ShortData, {}, kHalfBlock));
     }},
    {"disk-full", "the working directory fills up after 64 KiB written", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.FileFaultSettings().diskFullAfter = kDiskFullBytes;
     }},
    {"sync-fails", "flushing a written file to disk fails", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.FileFaultSettings().syncFails = true;
     }},
    {"no-open", "cdrom1 exists but its device does not open", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.RefuseOpen(CdromName(1));
     }},
    {"loader-mode", "cdrom0 is already in update mode (reports its loader identification)", kPlatformNt,
     [](SimMachine& m) {
       AddDefaultDrives(m);
       m.Drive(0).StartInUpdateMode();
     }},
    {"empty", "NT with no drives", kPlatformNt, [](SimMachine&) {}},
    {"aspi-empty", "Windows 98 with ASPI and one adapter without drives", kPlatformWindows, [](SimMachine&) {}},
    {"family-5", "NT: cdrom0 family 5 (byte-keyed files, loader update forced)", kPlatformNt,
     [](SimMachine& m) {
       constexpr int kFamily = 5;
       DriveIdentity id;
       id.product = NormalProductId(kDefaultProductRows[kFamily5Drive]);
       m.AddDrive(std::make_unique<SimDrive>(kFamily, id,
                                             MakeDriveImage(kFamily, "QDX55", "Tessaro CW-5520 Ver 1.00", 0x5520100)),
                  Attachment{CdromName(0), 0, 0});
     }},
    {kEveryFamilyScenario,
     "ASPI on 3 adapters: a drive per loader row, two raised to family 5, a blank one per family",
     kPlatformWindows, [](SimMachine& m) { AddEveryFamilyDrives(m); }},
};

// The rewrite phases a hold can stop at, by the drive's phase code.
struct HoldPhase {
  std::string_view name;
  std::uint8_t code;
};
constexpr std::array<HoldPhase, 4> kHoldPhases{{{"sum", 0x00}, {"erase", 0x01}, {"write", 0x02}, {"sum-again", 0x03}}};

const Scenario* FindScenario(std::string_view name) {
  for (const Scenario& s : kScenarios) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

}  // namespace

std::span<const Scenario> Scenarios() { return kScenarios; }

std::span<const SampleDrive> DefaultDrives() { return kDefaultDrives; }

std::span<const FamilyDrive> EveryFamilyDrives() { return kEveryFamilyDrives; }

std::vector<std::uint8_t> MakeDriveImage(int family, std::string_view typeCode, std::string_view description,
                                         std::uint32_t seed) {
  std::vector<std::uint8_t> image = MakePlainImage(family, typeCode, description, seed);
  if (typeCode.size() < kShortTypeCode) {
    // A three-letter code stands alone: the loader lookup needs the NUL after it.
    const std::size_t at = FamilyIdOffset(family);
    for (std::size_t i = typeCode.size(); i < kTypeCodeLength && at + i < image.size(); ++i) image[at + i] = 0;
  }
  return image;
}

std::vector<std::uint8_t> SampleImage(std::size_t index) {
  const SampleDrive& d = kDefaultDrives[index];
  return MakeDriveImage(d.family, d.typeCode, d.newer, d.newerSeed);
}

int ParseScenario(std::string_view text, ScenarioSpec* parsed, std::string* error) {
  const auto fail = [&](std::string why) {
    if (error != nullptr) *error = std::move(why);
    return 0;
  };
  const std::vector<std::string_view> parts = Split(text, ',');
  if (parts[0].empty() || parts[0].find('=') != std::string_view::npos) return fail("the scenario text must begin with a name");
  ScenarioSpec s;
  s.name = std::string(parts[0]);
  if (FindScenario(s.name) == nullptr) return fail("unknown scenario \"" + s.name + "\" (see the scenario list)");
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string_view opt = parts[i];
    const std::size_t eq = opt.find('=');
    const std::string_view key = opt.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? std::string_view{} : opt.substr(eq + 1);
    std::uint64_t number = 0;
    if (key == "fault") {
      FaultRule r;
      if (!ParseFault(value, &r, error)) return 0;
      s.faults.push_back(r);
    } else if (key == "disk-full") {
      if (!ParseDecimal(value, &number)) return fail("disk-full needs a byte count");
      s.fileFaults.diskFullAfter = number;
    } else if (key == "file-short") {
      if (!ParseDecimal(value, &number)) return fail("file-short needs an offset");
      s.fileFaults.shortReadAt = number;
    } else if (key == "sync-fails" && value.empty()) {
      s.fileFaults.syncFails = true;
    } else if (key == "create-fails") {
      const std::optional<FileError> reason = CreateFailure(value);
      if (!reason) return fail("create-fails needs denied, read-only or no-space");
      s.fileFaults.createFails = reason;
    } else if (key == "rename-taken") {
      if (!ParseDecimal(value, &number) || number > kMaxRenamesTaken) {
        return fail("rename-taken needs a count up to " + std::to_string(kMaxRenamesTaken));
      }
      s.fileFaults.renameTargetsTaken = static_cast<int>(number);
    } else if (key == "dir-sync-fails" && value.empty()) {
      s.fileFaults.directorySyncFails = true;
    } else if (key == "pending" && value.empty()) {
      s.pending = true;
    } else if (key == "no-logind" && value.empty()) {
      s.noLogind = true;
    } else if (key == "no-open") {
      if (!ParseDecimal(value, &number) || number > kByteMax) return fail("no-open needs a drive index");
      s.refuseOpen.push_back(static_cast<std::size_t>(number));
    } else if (key == "no-access") {
      if (!ParseDecimal(value, &number) || number > kByteMax) return fail("no-access needs a drive index");
      s.denyAccess.push_back(static_cast<std::size_t>(number));
    } else if (key == "swap") {
      const std::size_t colon = value.find(':');
      std::uint64_t first = 0;
      std::uint64_t second = 0;
      if (colon == std::string_view::npos || !ParseDecimal(value.substr(0, colon), &first) ||
          !ParseDecimal(value.substr(colon + 1), &second) || first > kByteMax || second > kByteMax || first == second) {
        return fail("swap needs two different drive indexes, <drive>:<drive>");
      }
      s.swap = std::make_pair(static_cast<std::size_t>(first), static_cast<std::size_t>(second));
    } else if (key == "platform") {
      if (!ParseDecimal(value, &number) || number > UINT32_MAX) return fail("platform needs a number");
      s.platformGiven = true;
      s.platformId = static_cast<std::uint32_t>(number);
    } else if (key == "hold") {
      const auto phase = std::find_if(kHoldPhases.begin(), kHoldPhases.end(),
                                      [&](const HoldPhase& p) { return p.name == value; });
      if (phase == kHoldPhases.end()) return fail("hold needs a phase: sum, erase, write or sum-again");
      s.hold = true;
      s.holdPhase = phase->code;
    } else if (key == "state") {
      if (value.empty()) return fail("state needs a directory");
      s.stateDirectory = std::string(value);
    } else if (key == "power-cycle" && eq == std::string_view::npos) {
      s.powerCycle = true;
    } else {
      return fail("unknown option \"" + std::string(opt) + "\"");
    }
  }
  if (s.powerCycle && s.stateDirectory.empty()) {
    return fail("power-cycle needs state=<dir>: a fresh machine starts switched on anyway");
  }
  *parsed = std::move(s);
  return 1;
}

std::unique_ptr<SimMachine> MakeScenario(std::string_view text, std::string workingDirectory, std::string* error) {
  ScenarioSpec parsed;
  if (ParseScenario(text, &parsed, error) == 0) return nullptr;
  const Scenario& scenario = *FindScenario(parsed.name);  // ParseScenario knows the name
  auto m = std::make_unique<SimMachine>(scenario.platformId, std::move(workingDirectory));
  scenario.build(*m);
  for (const FaultRule& r : parsed.faults) m->AddFault(r);
  FileFaults& f = m->FileFaultSettings();
  if (parsed.fileFaults.diskFullAfter) f.diskFullAfter = parsed.fileFaults.diskFullAfter;
  if (parsed.fileFaults.shortReadAt) f.shortReadAt = parsed.fileFaults.shortReadAt;
  f.syncFails = f.syncFails || parsed.fileFaults.syncFails;
  if (parsed.fileFaults.createFails) f.createFails = parsed.fileFaults.createFails;
  f.renameTargetsTaken += parsed.fileFaults.renameTargetsTaken;
  f.directorySyncFails = f.directorySyncFails || parsed.fileFaults.directorySyncFails;
  for (std::size_t index : parsed.refuseOpen) {
    if (index >= m->DriveCount()) {
      if (error != nullptr) *error = "no-open: no drive " + std::to_string(index);
      return nullptr;
    }
    m->RefuseOpen(m->AttachmentOf(index).deviceName);
  }
  for (std::size_t index : parsed.denyAccess) {
    if (index >= m->DriveCount()) {
      if (error != nullptr) *error = "no-access: no drive " + std::to_string(index);
      return nullptr;
    }
    m->DenyAccess(m->AttachmentOf(index).deviceName);
  }
  if (parsed.pending) m->Aspi().pending = true;
  if (parsed.noLogind) m->SetCanKeepAwake(false);
  if (parsed.platformGiven) m->SetPlatformId(parsed.platformId);
  if (parsed.swap) {
    const auto [a, b] = *parsed.swap;
    if (a >= m->DriveCount() || b >= m->DriveCount()) {
      if (error != nullptr) *error = "swap: no drive " + std::to_string(std::max(a, b));
      return nullptr;
    }
    if (m->PlatformId() != kPlatformNt) {
      if (error != nullptr) *error = "swap: only a pass-through machine has device names to swap";
      return nullptr;
    }
    m->SwapAtFirstClaim(a, b);
  }
  if (parsed.hold) m->SetHold(parsed.holdPhase);
  return m;
}

std::string ScenarioHelp() {
  std::string text = "Scenarios (name[,option]...):\n";
  std::size_t width = 0;
  for (const Scenario& s : kScenarios) width = std::max(width, s.name.size());
  for (const Scenario& s : kScenarios) {
    text += "  ";
    text += s.name;
    text.append(width + 2 - s.name.size(), ' ');
    text += s.help;
    text += '\n';
  }
  text +=
      "Options:\n"
      "  fault=<op>[@<drive>]:<n>[+]:<kind>  fault on the n-th command of opcode <op> (hex, or \"any\"),\n"
      "                                      or with \"+\" on every one from the n-th; optional drive index\n"
      "    kinds: check:<asc>/<ascq>         CHECK CONDITION (hex; key 2 for ASC 04, 3A, F7, else 5)\n"
      "           check:<key>/<asc>/<ascq>   CHECK CONDITION with that sense key\n"
      "           timeout                    the command outlasts the route's time-out\n"
      "           short:<bytes>              a DataIn answer of that many bytes\n"
      "           fail                       the pass-through call fails (ASPI: SS_NO_DEVICE)\n"
      "           aborted                    ASPI ends with SS_ABORTED (pass-through: the call fails)\n"
      "  disk-full=<bytes>                   writing fails with a full disk after that many bytes\n"
      "  sync-fails                          flushing a written file fails\n"
      "  create-fails=<reason>               no file can be created: denied, read-only or no-space\n"
      "  rename-taken=<n>                    the next n renames find their new name taken meanwhile\n"
      "  dir-sync-fails                      flushing the working directory fails\n"
      "  file-short=<offset>                 files read back as if they ended at that offset\n"
      "  no-open=<drive>                     that drive's device name does not open\n"
      "  no-access=<drive>                   that drive's device name does not open for this user\n"
      "  swap=<drive>:<drive>                the two drives' device names trade drives after discovery\n"
      "  pending                             ASPI requests answer SS_PENDING first\n"
      "  no-logind                           nothing keeps the machine from sleeping during an attempt\n"
      "  platform=<id>                       the platform id the system reports\n"
      "  hold=<phase>                        the dialog's update stops in that rewrite phase (sum, erase,\n"
      "                                      write, sum-again) until a file RELEASE is in the directory\n"
      "  state=<dir>                         the machine (flash, mode, what each drive received) is kept in\n"
      "                                      <dir> (relative to -C) between runs; else every run starts fresh\n"
      "  power-cycle                         with state=: every drive is switched off and on before the run\n"
      "Examples: default,fault=aa:3:check:04/00 (the third 12-byte chunk fails: the rest go as 0xE2)\n"
      "          ten-byte-chunks,fault=e2:3:check:04/00 (the third 0xE2 chunk fails: the update fails)\n"
      "          default,disk-full=100000 (no room for a backup: refused before the drive is touched)\n";
  return text;
}

std::vector<std::uint8_t> FamilySampleImage(std::size_t index) {
  const FamilyDrive& d = kEveryFamilyDrives[index];
  return MakeDriveImage(d.family, d.typeCode, d.newer, d.newerSeed);
}

namespace {

// One sample file: its name, its family (for the file form) and its plain image, made when written.
struct SampleFile {
  const char* name;
  int family;
  std::function<std::vector<std::uint8_t>()> plain;
};

std::vector<SampleFile> SampleFilesOf(std::string_view scenario) {
  std::vector<SampleFile> set;
  if (scenario == kEveryFamilyScenario) {
    for (std::size_t i = 0; i < kEveryFamilyDrives.size(); ++i) {
      const FamilyDrive& d = kEveryFamilyDrives[i];
      if (d.fileName != nullptr) set.push_back({d.fileName, d.family, [i] { return FamilySampleImage(i); }});
    }
    return set;
  }
  for (std::size_t i = 0; i < kDefaultDrives.size(); ++i) {
    set.push_back({kDefaultDrives[i].fileName, kDefaultDrives[i].family, [i] { return SampleImage(i); }});
  }
  set.push_back({kMisfitFileName, kMisfitFamily,
                 [] { return MakeDriveImage(kMisfitFamily, kMisfitTypeCode, kMisfitDescription, kMisfitSeed); }});
  return set;
}

}  // namespace

std::vector<std::string> ExistingSampleNames(FileSystem& files, std::string_view scenario) {
  std::vector<std::string> names;
  for (const SampleFile& f : SampleFilesOf(scenario)) {
    if (files.Exists(f.name)) names.emplace_back(f.name);
  }
  return names;
}

int WriteSampleFirmware(FileSystem& files, std::vector<std::string>* written, std::string* error,
                        std::string_view scenario) {
  const std::vector<std::string> existing = ExistingSampleNames(files, scenario);
  if (!existing.empty()) {
    if (error != nullptr) {
      *error = "already there, not replaced:";
      for (const std::string& name : existing) *error += " " + name;
      *error += "; nothing was written";
    }
    return 0;
  }
  const auto writeOne = [&](const char* name, int family, const std::vector<std::uint8_t>& plain) {
    const std::vector<std::uint8_t> content = EncodeForFamily(family, plain);
    FileError err = FileError::None;
    const FileHandle h = files.CreateExclusive(name, &err);
    if (h == kNoFile) {
      if (error != nullptr) *error = std::string(name) + ": " + FileErrorText(err);
      return false;
    }
    const bool wrote = files.WriteAll(h, content, &err);
    FileError closeErr = FileError::None;
    const bool closed = files.SyncAndClose(h, &closeErr);
    if (!wrote || !closed) {
      if (error != nullptr) *error = std::string(name) + ": " + FileErrorText(wrote ? closeErr : err);
      files.Remove(name);
      return false;
    }
    if (written != nullptr) written->emplace_back(name);
    return true;
  };
  for (const SampleFile& f : SampleFilesOf(scenario)) {
    if (!writeOne(f.name, f.family, f.plain())) return 0;
  }
  return 1;
}

}  // namespace orvel::sim
