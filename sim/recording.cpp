#include "sim/recording.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/fixed_sense.h"
#include "platform/request_blocks.h"

namespace orvel {
namespace {

using nlohmann::json;
// Written in the order of its fields, for people reading a recording.
using Written = nlohmann::ordered_json;

constexpr std::uint8_t kDirNone = 0x00;
constexpr std::uint8_t kDirIn = srb::SRB_DIR_IN;
constexpr std::uint8_t kDirOut = srb::SRB_DIR_OUT;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kInquiryEvpd = 0x01;
constexpr std::size_t kVendorAt = 8;
constexpr std::size_t kVendorSize = 8;
constexpr std::size_t kProductAt = 16;
constexpr std::size_t kProductSize = 16;
constexpr std::size_t kRevisionAt = 32;
constexpr std::size_t kRevisionSize = 4;
constexpr std::size_t kInquiryMinimum = kRevisionAt + kRevisionSize;
constexpr std::size_t kMaxCdb = 16;
constexpr std::size_t kSenseBytes = spt::kSenseRequested;
constexpr unsigned kNibbleBits = 4;
constexpr std::uint8_t kNibbleMask = 0x0F;
constexpr int kHexBase = 16;

const char* DirectionWord(std::uint8_t direction) {
  if (direction == kDirIn) return "in";
  if (direction == kDirOut) return "out";
  return "none";
}

std::optional<std::uint8_t> DirectionOf(std::string_view word) {
  if (word == "in") return kDirIn;
  if (word == "out") return kDirOut;
  if (word == "none") return kDirNone;
  return std::nullopt;
}

constexpr std::pair<PassThroughResult, const char*> kCalls[] = {
    {PassThroughResult::Done, "done"}, {PassThroughResult::Failed, "failed"}, {PassThroughResult::TimedOut, "timeout"}};
constexpr std::pair<DeviceClaimResult, const char*> kClaims[] = {
    {DeviceClaimResult::Claimed, "claimed"},     {DeviceClaimResult::NotListed, "not-listed"},
    {DeviceClaimResult::Changed, "changed"},     {DeviceClaimResult::NotOptical, "not-optical"},
    {DeviceClaimResult::Mounted, "mounted"},     {DeviceClaimResult::InUse, "in-use"},
    {DeviceClaimResult::NoAccess, "no-access"}};
constexpr std::pair<TransportMode, const char*> kModes[] = {{TransportMode::CdromDevice, "cdrom"},
                                                            {TransportMode::DriveLetter, "letter"}};

template <typename E, std::size_t N>
const char* WordOf(const std::pair<E, const char*> (&table)[N], E value) {
  for (const auto& [v, word] : table) {
    if (v == value) return word;
  }
  return "";
}

template <typename E, std::size_t N>
std::optional<E> ValueOf(const std::pair<E, const char*> (&table)[N], std::string_view word) {
  for (const auto& [v, w] : table) {
    if (word == w) return v;
  }
  return std::nullopt;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "0a1b..." (blanks allowed between bytes).
std::optional<std::vector<std::uint8_t>> BytesOfHex(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high * kHexBase + low));
    i += 2;
  }
  return bytes;
}

std::string CompactHex(std::span<const std::uint8_t> bytes) {
  std::string text = HexBytes(bytes);
  std::erase(text, ' ');
  return text;
}

std::string TextOf(std::span<const std::uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

// --- reading, with every type checked (the file is untrusted) ---

const json* Field(const json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

template <typename T>
bool ReadNumber(const json& object, const char* key, T& out, bool required = true) {
  const json* f = Field(object, key);
  if (f == nullptr) return !required;
  if (!f->is_number_unsigned()) return false;
  const std::uint64_t v = f->get<std::uint64_t>();
  if (v > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) return false;
  out = static_cast<T>(v);
  return true;
}

bool ReadString(const json& object, const char* key, std::string& out, bool required = true) {
  const json* f = Field(object, key);
  if (f == nullptr) return !required;
  if (!f->is_string()) return false;
  out = f->get<std::string>();
  return true;
}

bool ReadHex(const json& object, const char* key, std::vector<std::uint8_t>& out, std::size_t limit) {
  std::string text;
  if (!ReadString(object, key, text, false)) return false;
  const std::optional<std::vector<std::uint8_t>> bytes = BytesOfHex(text);
  if (!bytes || bytes->size() > limit) return false;
  out = *bytes;
  return true;
}

void PutData(Written& line, const char* key, const RecordedData& data) {
  const std::string k(key);
  if (data.digest) {
    line[k + "Sha256"] = DigestHex(*data.digest);
    line[k + "Size"] = data.size;
  } else {
    line[k] = CompactHex(data.bytes);
  }
}

bool ReadData(const json& object, const char* key, RecordedData& data) {
  const std::string k(key);
  std::string digestText;
  if (!ReadString(object, (k + "Sha256").c_str(), digestText, false)) return false;
  if (!digestText.empty()) {
    const std::optional<std::vector<std::uint8_t>> digest = BytesOfHex(digestText);
    if (!digest || digest->size() != kSha256DigestSize) return false;
    data.digest.emplace();
    std::copy(digest->begin(), digest->end(), data.digest->begin());
    return ReadNumber(object, (k + "Size").c_str(), data.size);
  }
  if (!ReadHex(object, key, data.bytes, spt::kMaxTransfer)) return false;
  data.size = static_cast<std::uint32_t>(data.bytes.size());
  return true;
}

Written HeaderJson(const RecordingHeader& h) {
  Written head = Written::object();
  head["recording"] = "orvel";
  head["format"] = kRecordingFormat;
  head["version"] = h.version;
  head["route"] = RouteName(h.platformId);
  head["platformId"] = h.platformId;
  head["randomSeed"] = h.randomSeed;
  head["dataSent"] = h.bulkDataKept ? "kept" : "sha256";
  if (h.platformId == kPlatformWindows) {
    head["aspi"] = {{"library", h.aspiLibrary}, {"entryPoints", h.aspiEntryPoints}, {"supportInfo", h.aspiSupportInfo}};
  }
  Written names = Written::object();
  for (const auto& [mode, word] : kModes) {
    Written list = Written::array();
    const auto numbers = h.routeNumbers.find(static_cast<int>(mode));
    if (numbers != h.routeNumbers.end()) {
      for (const std::uint16_t n : numbers->second) list.push_back(n);
    }
    Written named = Written::object();
    for (const auto& [key, name] : h.names) {
      if (key.first == static_cast<int>(mode)) named[std::to_string(key.second)] = name;
    }
    if (!list.empty() || !named.empty()) names[word] = {{"numbers", list}, {"names", named}};
  }
  head["routes"] = names;
  Written nodes = Written::object();
  for (const auto& [name, n] : h.nodes) nodes[name] = {{"block", n.block}, {"generic", n.generic}};
  head["nodes"] = nodes;
  Written problems = Written::array();
  for (const NodeAccessProblem& p : h.accessProblems) {
    problems.push_back({{"node", p.node}, {"reason", p.reason}, {"remedy", p.remedy}});
  }
  head["accessProblems"] = problems;
  Written drives = Written::array();
  for (const RecordedDrive& d : h.drives) {
    drives.push_back({{"device", d.device}, {"vendor", d.vendor}, {"product", d.product}, {"revision", d.revision}});
  }
  head["drives"] = drives;
  return head;
}

bool ReadHeader(const json& head, RecordingHeader& h) {
  std::string magic;
  int format = 0;
  if (!head.is_object() || !ReadString(head, "recording", magic) || magic != "orvel" ||
      !ReadNumber(head, "format", format) || format != kRecordingFormat || !ReadString(head, "version", h.version) ||
      !ReadNumber(head, "platformId", h.platformId) || !ReadNumber(head, "randomSeed", h.randomSeed)) {
    return false;
  }
  std::string bulk;
  if (!ReadString(head, "dataSent", bulk, false)) return false;
  h.bulkDataKept = bulk == "kept";
  if (const json* aspi = Field(head, "aspi")) {
    const json* entries = aspi->is_object() ? Field(*aspi, "entryPoints") : nullptr;
    const json* library = aspi->is_object() ? Field(*aspi, "library") : nullptr;
    if (entries == nullptr || !entries->is_array() || library == nullptr || !library->is_boolean() ||
        !ReadNumber(*aspi, "supportInfo", h.aspiSupportInfo)) {
      return false;
    }
    h.aspiLibrary = library->get<bool>();
    for (const json& e : *entries) {
      if (!e.is_string()) return false;
      h.aspiEntryPoints.push_back(e.get<std::string>());
    }
  }
  if (const json* routes = Field(head, "routes")) {
    if (!routes->is_object()) return false;
    for (const auto& [mode, word] : kModes) {
      const json* route = Field(*routes, word);
      if (route == nullptr) continue;
      const json* numbers = route->is_object() ? Field(*route, "numbers") : nullptr;
      const json* named = route->is_object() ? Field(*route, "names") : nullptr;
      if (numbers == nullptr || !numbers->is_array() || named == nullptr || !named->is_object()) return false;
      std::vector<std::uint16_t>& list = h.routeNumbers[static_cast<int>(mode)];
      for (const json& n : *numbers) {
        if (!n.is_number_unsigned() || n.get<std::uint64_t>() > std::numeric_limits<std::uint16_t>::max()) return false;
        list.push_back(static_cast<std::uint16_t>(n.get<std::uint64_t>()));
      }
      for (const auto& [number, name] : named->items()) {
        std::uint16_t n = 0;
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), n);
        if (ec != std::errc() || end != number.data() + number.size() || !name.is_string()) return false;
        h.names[{static_cast<int>(mode), n}] = name.get<std::string>();
      }
    }
  }
  if (const json* nodes = Field(head, "nodes")) {
    if (!nodes->is_object()) return false;
    for (const auto& [name, n] : nodes->items()) {
      DeviceNodes dn;
      if (!n.is_object() || !ReadString(n, "block", dn.block) || !ReadString(n, "generic", dn.generic)) return false;
      h.nodes[name] = dn;
    }
  }
  if (const json* problems = Field(head, "accessProblems")) {
    if (!problems->is_array()) return false;
    for (const json& p : *problems) {
      NodeAccessProblem np;
      if (!p.is_object() || !ReadString(p, "node", np.node) || !ReadString(p, "reason", np.reason) ||
          !ReadString(p, "remedy", np.remedy)) {
        return false;
      }
      h.accessProblems.push_back(np);
    }
  }
  if (const json* drives = Field(head, "drives")) {
    if (!drives->is_array()) return false;
    for (const json& d : *drives) {
      RecordedDrive rd;
      if (!d.is_object() || !ReadString(d, "device", rd.device) || !ReadString(d, "vendor", rd.vendor) ||
          !ReadString(d, "product", rd.product) || !ReadString(d, "revision", rd.revision)) {
        return false;
      }
      h.drives.push_back(rd);
    }
  }
  return true;
}

Written RequestJson(const RecordedRequest& r, std::size_t position) {
  Written line = Written::object();
  line["n"] = position;
  switch (r.kind) {
    case RequestKind::Open:
      line["op"] = "open";
      break;
    case RequestKind::Claim:
      line["op"] = "claim";
      break;
    case RequestKind::Remember:
      line["op"] = "remember";
      break;
    case RequestKind::Scsi:
      line["op"] = "scsi";
      break;
  }
  if (r.aspi) {
    line["adapter"] = r.adapter;
    line["target"] = r.target;
  } else {
    line["device"] = r.device;
  }
  if (r.kind == RequestKind::Open || r.kind == RequestKind::Remember) line["ok"] = r.ok;
  if (r.kind == RequestKind::Claim) line["result"] = WordOf(kClaims, r.claim);
  if (r.kind != RequestKind::Scsi) return line;
  line["cdb"] = HexBytes(r.cdb);
  line["dir"] = DirectionWord(r.direction);
  line["length"] = r.length;
  if (r.direction == kDirOut) PutData(line, "out", r.dataOut);
  if (!r.aspi) line["call"] = WordOf(kCalls, r.call);
  line["status"] = r.status;
  if (!r.sense.empty()) line["sense"] = CompactHex(r.sense);
  if (r.direction == kDirIn) PutData(line, "in", r.dataIn);
  if (!r.aspi) line["delivered"] = r.delivered;
  line["ms"] = r.milliseconds;
  return line;
}

bool ReadRequest(const json& line, RecordedRequest& r) {
  std::string op;
  if (!line.is_object() || !ReadString(line, "op", op)) return false;
  if (op == "open") {
    r.kind = RequestKind::Open;
  } else if (op == "claim") {
    r.kind = RequestKind::Claim;
  } else if (op == "remember") {
    r.kind = RequestKind::Remember;
  } else if (op == "scsi") {
    r.kind = RequestKind::Scsi;
  } else {
    return false;
  }
  r.aspi = Field(line, "adapter") != nullptr;
  if (r.aspi) {
    if (!ReadNumber(line, "adapter", r.adapter) || !ReadNumber(line, "target", r.target)) return false;
  } else if (!ReadString(line, "device", r.device)) {
    return false;
  }
  if (r.kind == RequestKind::Open || r.kind == RequestKind::Remember) {
    const json* ok = Field(line, "ok");
    if (ok == nullptr || !ok->is_boolean()) return false;
    r.ok = ok->get<bool>();
    return true;
  }
  if (r.kind == RequestKind::Claim) {
    std::string result;
    if (!ReadString(line, "result", result)) return false;
    const std::optional<DeviceClaimResult> claim = ValueOf(kClaims, result);
    if (!claim) return false;
    r.claim = *claim;
    return true;
  }
  std::string dir;
  std::string call = "done";
  if (!ReadHex(line, "cdb", r.cdb, kMaxCdb) || r.cdb.empty() || !ReadString(line, "dir", dir) ||
      !ReadNumber(line, "length", r.length) || r.length > spt::kMaxTransfer || !ReadNumber(line, "status", r.status) ||
      !ReadHex(line, "sense", r.sense, srb::kSenseAreaSize) || !ReadString(line, "call", call, false) ||
      !ReadNumber(line, "delivered", r.delivered, false) || !ReadNumber(line, "ms", r.milliseconds)) {
    return false;
  }
  const std::optional<std::uint8_t> direction = DirectionOf(dir);
  const std::optional<PassThroughResult> result = ValueOf(kCalls, call);
  if (!direction || !result) return false;
  r.direction = *direction;
  r.call = *result;
  if (r.direction == kDirOut && (!ReadData(line, "out", r.dataOut) || r.dataOut.size != r.length)) return false;
  if (r.direction == kDirIn && (!ReadData(line, "in", r.dataIn) || r.dataIn.size > r.length)) return false;
  return true;
}

std::string AspiAddress(std::uint8_t adapter, std::uint8_t target) {
  return "HA:" + std::to_string(adapter) + " ID:" + std::to_string(target);
}

// Forwards to the inner library through the recorder.
class RecordingAspiLibrary : public AspiLibrary {
 public:
  RecordingAspiLibrary(RecordingPlatform& recorder, AspiLibrary& inner) : recorder_(recorder), inner_(inner) {}
  bool HasEntryPoint(std::string_view name) override { return recorder_.LibraryHasEntryPoint(inner_, name); }
  std::uint32_t GetASPI32SupportInfo() override { return recorder_.LibrarySupportInfo(inner_); }
  void SendASPI32Command(std::span<std::uint8_t> block) override { recorder_.LibrarySend(inner_, block); }

 private:
  RecordingPlatform& recorder_;
  AspiLibrary& inner_;
};

}  // namespace

RecordedData RecordedData::Of(std::span<const std::uint8_t> data, bool keep) {
  RecordedData d;
  d.size = static_cast<std::uint32_t>(data.size());
  if (keep || data.size() <= kKeptDataLimit) {
    d.bytes.assign(data.begin(), data.end());
  } else {
    d.digest = Sha256Of(data);
  }
  return d;
}

bool RecordedData::Matches(std::span<const std::uint8_t> data) const {
  if (data.size() != size) return false;
  if (digest) return Sha256Of(data) == *digest;
  return std::equal(data.begin(), data.end(), bytes.begin(), bytes.end());
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  constexpr const char* kDigits = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> kNibbleBits];
    text += kDigits[b & kNibbleMask];
  }
  return text;
}

std::string DescribeRequest(const RecordedRequest& r) {
  const std::string where = r.aspi ? AspiAddress(r.adapter, r.target) : r.device;
  switch (r.kind) {
    case RequestKind::Open:
      return "open of " + where;
    case RequestKind::Claim:
      return "claim of " + where;
    case RequestKind::Remember:
      return "listing of " + where;
    case RequestKind::Scsi:
      break;
  }
  return "CDB " + HexBytes(r.cdb) + " (" + DirectionWord(r.direction) + " " + std::to_string(r.length) + ") to " +
         where;
}

std::string_view RouteName(std::uint32_t platformId) {
  if (platformId == kPlatformNt) return "pass-through";
  if (platformId == kPlatformWindows) return "aspi";
  return "none";
}

std::string RecordingText(const Recording& recording) {
  constexpr int kNoIndent = -1;
  const auto dump = [](const Written& j) {
    return j.dump(kNoIndent, ' ', false, Written::error_handler_t::replace) + '\n';
  };
  std::string text = dump(HeaderJson(recording.header));
  for (std::size_t i = 0; i < recording.requests.size(); ++i) text += dump(RequestJson(recording.requests[i], i + 1));
  return text;
}

std::optional<Recording> ParseRecording(std::string_view text, std::string* error) {
  Recording recording;
  std::size_t lineNumber = 0;
  std::size_t at = 0;
  auto fail = [&](const std::string& why) -> std::optional<Recording> {
    if (error != nullptr) *error = "line " + std::to_string(lineNumber) + ": " + why;
    return std::nullopt;
  };
  bool headerRead = false;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++lineNumber;
    if (line.empty() || line == "\r") continue;
    const json parsed = json::parse(line, nullptr, false);
    if (parsed.is_discarded()) return fail("not JSON");
    if (!headerRead) {
      if (!ReadHeader(parsed, recording.header)) return fail("not the header of an orvel recording");
      headerRead = true;
      continue;
    }
    RecordedRequest request;
    if (!ReadRequest(parsed, request)) return fail("not a request of a recording");
    recording.requests.push_back(std::move(request));
  }
  if (!headerRead) return fail("no header: not an orvel recording");
  return recording;
}

// --- the recorder ---

RecordingPlatform::RecordingPlatform(std::unique_ptr<Platform> inner, std::shared_ptr<Recording> recording,
                                     std::string version, bool keepBytes)
    : ForwardingPlatform(std::move(inner)), recording_(std::move(recording)), keepBytes_(keepBytes) {
  recording_->header.version = std::move(version);
  recording_->header.bulkDataKept = keepBytes;
  recording_->header.platformId = Inner().PlatformId();
}

RecordingPlatform::~RecordingPlatform() = default;

std::uint32_t RecordingPlatform::PlatformId() {
  const std::uint32_t id = Inner().PlatformId();
  recording_->header.platformId = id;
  return id;
}

AspiLibrary* RecordingPlatform::LoadLibrary(std::string_view name) {
  AspiLibrary* lib = Inner().LoadLibrary(name);
  recording_->header.aspiLibrary = lib != nullptr;
  if (lib == nullptr) return nullptr;
  innerLibrary_ = lib;
  library_ = std::make_unique<RecordingAspiLibrary>(*this, *lib);
  return library_.get();
}

void RecordingPlatform::FreeLibrary(AspiLibrary* lib) {
  if (lib != nullptr && lib == library_.get()) lib = innerLibrary_;
  Inner().FreeLibrary(lib);
}

std::uint32_t RecordingPlatform::RegisterBuffer(std::span<std::uint8_t> buffer) {
  const std::uint32_t handle = Inner().RegisterBuffer(buffer);
  buffers_[handle] = buffer;
  return handle;
}

bool RecordingPlatform::LibraryHasEntryPoint(AspiLibrary& inner, std::string_view name) {
  const bool has = inner.HasEntryPoint(name);
  std::vector<std::string>& entries = recording_->header.aspiEntryPoints;
  if (has && std::find(entries.begin(), entries.end(), name) == entries.end()) entries.emplace_back(name);
  return has;
}

std::uint32_t RecordingPlatform::LibrarySupportInfo(AspiLibrary& inner) {
  const std::uint32_t info = inner.GetASPI32SupportInfo();
  recording_->header.aspiSupportInfo = info;
  return info;
}

void RecordingPlatform::LibrarySend(AspiLibrary& inner, std::span<std::uint8_t> block) {
  RecordedRequest r;
  r.aspi = true;
  r.adapter = block[srb::kHaId];
  r.target = block[srb::kTarget];
  r.cdb.assign(block.begin() + srb::kCdbByte, block.begin() + srb::kCdbByte + std::min<std::size_t>(block[srb::kCdbLen], kMaxCdb));
  r.direction = block[srb::kFlags] & (kDirIn | kDirOut);
  r.length = GetLe32(block, srb::kBufLen);
  const auto buffer = buffers_.find(GetLe32(block, srb::kBufPointer));
  if (r.direction == kDirOut && buffer != buffers_.end() && r.length <= buffer->second.size()) {
    r.dataOut = RecordedData::Of(buffer->second.first(r.length), keepBytes_);
  }
  const std::uint64_t started = Inner().MonotonicMilliseconds();
  inner.SendASPI32Command(block);
  if (block[srb::kStatus] == srb::SS_PENDING) {
    pending_.push_back(PendingSrb{block, GetLe32(block, srb::kPostProc), started, std::move(r)});
    return;
  }
  FinishSrb(block, started, std::move(r));
}

void RecordingPlatform::FinishSrb(std::span<const std::uint8_t> block, std::uint64_t started, RecordedRequest r) {
  r.status = block[srb::kStatus];
  r.milliseconds = static_cast<std::uint32_t>(Inner().MonotonicMilliseconds() - started);
  if (r.status == srb::SS_ERR) {
    r.sense.assign(block.begin() + srb::kSenseArea, block.begin() + srb::kSenseArea + kSenseBytes);
  }
  const auto buffer = buffers_.find(GetLe32(block, srb::kBufPointer));
  if (r.direction == kDirIn && r.status == srb::SS_COMP && buffer != buffers_.end() &&
      r.length <= buffer->second.size()) {
    r.dataIn = RecordedData::Of(buffer->second.first(r.length), true);
  }
  NoteDrive(r);
  recording_->requests.push_back(std::move(r));
}

WaitResult RecordingPlatform::WaitEvent(EventHandle ev, std::uint32_t milliseconds) {
  const WaitResult result = Inner().WaitEvent(ev, milliseconds);
  // A request is recorded as it stood when the program stopped waiting for it.
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (it->event != ev) continue;
    PendingSrb done = std::move(*it);
    pending_.erase(it);
    FinishSrb(done.srb, done.started, std::move(done.request));
    break;
  }
  return result;
}

std::string RecordingPlatform::DeviceName(TransportMode mode, std::uint16_t number) {
  std::string name = Inner().DeviceName(mode, number);
  recording_->header.names[{static_cast<int>(mode), number}] = name;
  return name;
}

std::vector<std::uint16_t> RecordingPlatform::RouteDeviceNumbers(TransportMode mode) {
  std::vector<std::uint16_t> numbers = Inner().RouteDeviceNumbers(mode);
  recording_->header.routeNumbers[static_cast<int>(mode)] = numbers;
  return numbers;
}

DeviceNodes RecordingPlatform::NodesOf(std::string_view name) {
  DeviceNodes nodes = Inner().NodesOf(name);
  recording_->header.nodes[std::string(name)] = nodes;
  return nodes;
}

std::vector<NodeAccessProblem> RecordingPlatform::AccessProblems() {
  std::vector<NodeAccessProblem> problems = Inner().AccessProblems();
  recording_->header.accessProblems = problems;
  return problems;
}

DeviceHandle RecordingPlatform::OpenDevice(std::string_view name) {
  const DeviceHandle dev = Inner().OpenDevice(name);
  RecordedRequest r;
  r.kind = RequestKind::Open;
  r.device = std::string(name);
  r.ok = dev >= 0;
  recording_->requests.push_back(std::move(r));
  if (dev >= 0) openNames_[dev] = std::string(name);
  return dev;
}

PassThroughResult RecordingPlatform::PassThrough(DeviceHandle dev, std::span<std::uint8_t> block) {
  RecordedRequest r;
  const auto name = openNames_.find(dev);
  if (name != openNames_.end()) r.device = name->second;
  if (block.size() < spt::kDataArea) return Inner().PassThrough(dev, block);
  r.cdb.assign(block.begin() + spt::kCdb, block.begin() + spt::kCdb + std::min<std::size_t>(block[spt::kCdbLength], kMaxCdb));
  const std::uint8_t dataIn = block[spt::kDataIn];
  r.direction = dataIn == spt::SCSI_IOCTL_DATA_IN ? kDirIn : dataIn == spt::SCSI_IOCTL_DATA_OUT ? kDirOut : kDirNone;
  const std::span<std::uint8_t> data = block.subspan(spt::kDataArea);
  r.length = static_cast<std::uint32_t>(data.size());
  if (r.direction == kDirOut) r.dataOut = RecordedData::Of(data, keepBytes_);
  const std::uint64_t started = Inner().MonotonicMilliseconds();
  r.call = Inner().PassThrough(dev, block);
  r.milliseconds = static_cast<std::uint32_t>(Inner().MonotonicMilliseconds() - started);
  r.status = block[spt::kScsiStatus];
  if (r.call == PassThroughResult::Done) {
    r.delivered = GetLe32(block, spt::kDataTransferLength);
    if (r.status == kStatusCheckCondition) {
      r.sense.assign(block.begin() + spt::kSenseArea, block.begin() + spt::kSenseArea + kSenseBytes);
    }
    if (r.direction == kDirIn) r.dataIn = RecordedData::Of(data.first(std::min(r.delivered, r.length)), true);
  }
  const PassThroughResult call = r.call;
  NoteDrive(r);
  recording_->requests.push_back(std::move(r));
  return call;
}

void RecordingPlatform::CloseDevice(DeviceHandle dev) {
  openNames_.erase(dev);
  Inner().CloseDevice(dev);
}

int RecordingPlatform::RememberListedDevice(std::string_view name) {
  const int result = Inner().RememberListedDevice(name);
  RecordedRequest r;
  r.kind = RequestKind::Remember;
  r.device = std::string(name);
  r.ok = result == 1;
  recording_->requests.push_back(std::move(r));
  return result;
}

DeviceClaimResult RecordingPlatform::ClaimListedDevice(std::string_view name) {
  const DeviceClaimResult result = Inner().ClaimListedDevice(name);
  RecordedRequest r;
  r.kind = RequestKind::Claim;
  r.device = std::string(name);
  r.claim = result;
  recording_->requests.push_back(std::move(r));
  return result;
}

std::uint64_t RecordingPlatform::RandomSeed() {
  const std::uint64_t seed = Inner().RandomSeed();
  recording_->header.randomSeed = seed;
  return seed;
}

void RecordingPlatform::NoteDrive(const RecordedRequest& r) {
  const bool answered = r.aspi ? r.status == srb::SS_COMP : r.call == PassThroughResult::Done && r.status == kStatusGood;
  if (!answered || r.cdb.size() < 2 || r.cdb[0] != kOpInquiry || (r.cdb[1] & kInquiryEvpd) != 0 ||
      r.dataIn.digest || r.dataIn.bytes.size() < kInquiryMinimum) {
    return;
  }
  RecordedDrive d;
  d.device = r.aspi ? AspiAddress(r.adapter, r.target) : r.device;
  const std::span<const std::uint8_t> in(r.dataIn.bytes);
  d.vendor = TextOf(in.subspan(kVendorAt, kVendorSize));
  d.product = TextOf(in.subspan(kProductAt, kProductSize));
  d.revision = TextOf(in.subspan(kRevisionAt, kRevisionSize));
  std::vector<RecordedDrive>& drives = recording_->header.drives;
  const auto same = std::find_if(drives.begin(), drives.end(), [&](const RecordedDrive& x) { return x.device == d.device; });
  if (same == drives.end()) {
    drives.push_back(std::move(d));
  } else {
    *same = std::move(d);
  }
}

}  // namespace orvel
