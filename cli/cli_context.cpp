#include "cli/cli_context.h"

#include "cli/command_table.h"
#include "update/access_texts.h"

#include <cctype>
#include <charconv>

#ifndef ORVEL_VERSION
#define ORVEL_VERSION "0.0.0"
#endif

namespace orvel {

std::string DocumentText(const nlohmann::json& document) {
  // Drive and file texts are raw bytes; anything that is not UTF-8 is replaced.
  constexpr int kIndent = 2;
  return document.dump(kIndent, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}

nlohmann::json JsonDocument(std::string_view command, const nlohmann::json& body, std::optional<StopCode> stop,
                            const std::string& reason, int status) {
  nlohmann::json doc = nlohmann::json::object();
  for (const CliCommand& entry : CliCommands()) {
    if (entry.name != command) continue;
    for (const std::string_view key : entry.documentKeys) doc[std::string(key)] = nullptr;
  }
  if (body.is_object()) {
    for (const auto& [key, value] : body.items()) doc[key] = value;
  }
  doc["schemaVersion"] = kJsonSchemaVersion;
  doc["command"] = command.empty() ? nlohmann::json(nullptr) : nlohmann::json(command);
  doc["exitStatus"] = status;
  doc["code"] = stop ? nlohmann::json(RowOf(*stop).code) : nlohmann::json(nullptr);
  doc["reason"] = stop ? nlohmann::json(reason) : nlohmann::json(nullptr);
  return doc;
}

void CliContext::PrintDocument(const nlohmann::json& body, int status) {
  if (!options.json || jsonPrinted) return;
  status = SettleRun(status);
  out << DocumentText(JsonDocument(command, body, stop, reason, status));
  jsonPrinted = true;
}

int CliContext::Stop(StopCode code, const std::string& why) {
  err << "orvel-cli: " << why << '\n';
  return KeepStop(code, why);
}

int CliContext::KeepStop(StopCode code, const std::string& why) {
  stop = code;
  reason = why;
  return RowOf(code).exitStatus;
}

void CliContext::ActOnHeldInterruption(Platform& platform, Interruption held) {
  if (held == 0) return;
  // The program normally ends in the call: nothing may stay in a buffer.
  out.flush();
  err.flush();
  platform.ActOnInterruption(held);
}

std::string CliContext::PathOf(const std::string& name) const {
  return JoinNativePath(options.workingDirectory, name);
}

namespace {

std::string DepartureMessage(const CliContext& ctx, const ReplayDeparture& d) {
  const std::string at = std::to_string(d.position);
  if (d.received.empty()) {
    return ctx.Tr(DepartureText(d), "再生が記録と食い違いました（要求 " + at +
                                         "）: プログラムは終わりましたが、記録には続きがあります: " + d.expected);
  }
  if (d.expected.empty()) {
    return ctx.Tr(DepartureText(d),
                  "再生が記録と食い違いました（要求 " + at + "）: 記録は終わっていますが、プログラムが送りました: " +
                      d.received);
  }
  return ctx.Tr(DepartureText(d), "再生が記録と食い違いました（要求 " + at + "）: 記録では " + d.expected +
                                       "、プログラムが送ったのは " + d.received);
}

// --record FILE is created (an older one replaced) before anything is sent.
int PrepareRecord(CliContext& ctx) {
  auto target = std::make_shared<RecordTarget>();
  target->recording = std::make_shared<Recording>();
  target->files = MakeNativeFileSystem(ctx.options.workingDirectory);
  target->name = ctx.options.record;
  if (target->files->Exists(target->name)) target->files->Remove(target->name);
  FileError error{};
  target->file = target->files->CreateExclusive(target->name, &error);
  if (target->file == kNoFile) {
    return ctx.Stop(StopCode::RecordNotWritten, ctx.Tr("--record " + target->name + ": the file cannot be created",
                                                        "--record " + target->name + ": ファイルを作成できません"));
  }
  ctx.record = std::move(target);
  return kExitOk;
}

}  // namespace

int CliContext::SettleRun(int status) {
  if (runSettled) return settledStatus.value_or(status);
  runSettled = true;
  if (replay) {
    replay->NoteEnd();
    if (replay->departure) {
      settledStatus = Stop(StopCode::ReplayDeparted, DepartureMessage(*this, *replay->departure));
    } else if (replay->filledReads > 0) {
      const std::string n = std::to_string(replay->filledReads);
      text() << Tr("note: the recording holds no bulk data (only its SHA-256): " + n +
                       " reads were answered with zero bytes\n",
                   "注意: 記録には大きなデータがなく（SHA-256 のみ）、" + n + " 回の読み出しにゼロのバイトで答えました\n");
    }
  }
  if (record && record->file != kNoFile) {
    const std::string text = RecordingText(*record->recording);
    FileError error{};
    const bool written =
        record->files->WriteAll(record->file,
                                std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), &error) &&
        record->files->SyncAndClose(record->file, &error);
    record->file = kNoFile;
    if (!written) {
      const std::string why = Tr("--record " + record->name + ": the recording could not be written",
                                 "--record " + record->name + ": 記録を書き込めませんでした");
      if (status == kExitOk && !settledStatus) {
        settledStatus = Stop(StopCode::RecordNotWritten, why);
      } else {
        err << "orvel-cli: " << why << '\n';
      }
    }
  }
  return settledStatus.value_or(status);
}

int OpenFilePlatform(CliContext& ctx, std::unique_ptr<Platform>& platform) {
  const std::string& scenario = ctx.options.scenario;
  std::string error;
  if (ctx.options.simulate && scenario.starts_with(kReplayPrefix)) {
    const std::string file = scenario.substr(kReplayPrefix.size());
    if (NativePathKind(ctx.PathOf(file)) != PathKind::Other) {
      return ctx.Stop(StopCode::FileNotOpened,
                      ctx.Tr("replay:" + file + ": no such recording", "replay:" + file + ": その記録はありません"));
    }
    auto state = std::make_shared<ReplayState>();
    platform = MakeReplay(file, MakeNativeFileSystem(ctx.options.workingDirectory), state, &error);
    // A recording that does not parse is a usage error, as a scenario text is.
    if (!platform) return ctx.Stop(StopCode::Usage, error);
    ctx.replay = std::move(state);
  } else {
    if (!ctx.env.makePlatform) return ctx.Stop(StopCode::NoRoute, ctx.Tr("no platform to reach drives with", "ドライブに到達する手段がありません"));
    PlatformRequest request;
    request.simulate = ctx.options.simulate;
    request.scenario = scenario;
    request.workingDirectory = ctx.options.workingDirectory;
    request.realTime = !ctx.options.fast;
    platform = ctx.env.makePlatform(request, &error);
    // A scenario text that does not parse is a usage error.
    if (!platform) return ctx.Stop(ctx.options.simulate ? StopCode::Usage : StopCode::NoRoute, error);
  }
  if (!ctx.options.record.empty()) {
    if (!ctx.record) {
      if (const int status = PrepareRecord(ctx); status != kExitOk) return status;
    }
    platform = std::make_unique<RecordingPlatform>(std::move(platform), ctx.record->recording, ORVEL_VERSION,
                                                   ctx.options.recordBytes);
  }
  return kExitOk;
}

int OpenDriveSession(CliContext& ctx, DriveSession& session) {
  const int opened = OpenFilePlatform(ctx, session.platform);
  if (opened != kExitOk) return opened;

  session.transport = std::make_unique<ScsiTransport>(*session.platform);
  if (ctx.options.trace) {
    session.trace = std::make_unique<TraceObserver>(ctx.err);
    session.observers.Add(session.trace.get());
  }
  if (ctx.options.verbose > 0) {
    session.verbose = std::make_unique<VerboseObserver>(ctx, ctx.options.verbose);
    session.observers.Add(session.verbose.get());
  }
  if (!session.observers.Empty()) session.transport->SetObserver(&session.observers);
  TransportMessage message;
  if (!session.transport->SelectTransport(&message)) return ctx.Stop(StopCode::NoRoute, message.text);
  const std::string problem = AccessProblemLine(*session.platform, ctx.options.language);
  if (!problem.empty()) ctx.err << "orvel-cli: " << problem << '\n';
  session.drives = DiscoverDrives(*session.transport);
  return kExitOk;
}

std::string AddressPart(TransportMode mode, const DriveAddress& address) {
  switch (mode) {
    case TransportMode::CdromDevice:
      return "cdrom" + std::to_string(address.deviceNumber);
    case TransportMode::DriveLetter:
      return "drive" + std::to_string(address.deviceNumber);
    case TransportMode::Aspi:
      break;
  }
  return "HA:" + std::to_string(address.adapterId) + " ID:" + std::to_string(address.targetId);
}

namespace {

// "HA:0  id:3" and "HA:0 ID:3" name the same drive: letter case and runs of blanks do not matter.
std::string NormalisedAddress(std::string_view text) {
  std::string result;
  bool blank = false;
  for (const char c : text) {
    if (c == ' ' || c == '\t') {
      blank = !result.empty();
      continue;
    }
    if (blank) result += ' ';
    blank = false;
    result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

nlohmann::json OrNull(const std::string& text) { return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text); }

}  // namespace

bool IsNodePath(std::string_view which) {
  return which.find('/') != std::string_view::npos || which.find('\\') != std::string_view::npos;
}

std::optional<std::size_t> FindDrive(const DriveSession& session, const std::string& which) {
  if (IsNodePath(which)) {
    Platform& platform = *session.platform;
    const std::string wanted = platform.ResolveNodePath(which);
    for (std::size_t i = 0; i < session.drives.size(); ++i) {
      const DriveEntry& drive = session.drives[i];
      for (const std::string* node : {&drive.device, &drive.nodes.block, &drive.nodes.generic}) {
        if (!node->empty() && platform.ResolveNodePath(*node) == wanted) return i;
      }
    }
    return std::nullopt;
  }
  std::size_t position = 0;
  const char* end = which.data() + which.size();
  const auto [ptr, ec] = std::from_chars(which.data(), end, position);
  if (ec == std::errc() && ptr == end) {
    if (position >= 1 && position <= session.drives.size()) return position - 1;
    return std::nullopt;
  }
  for (std::size_t i = 0; i < session.drives.size(); ++i) {
    if (NormalisedAddress(AddressPart(session.transport->mode, session.drives[i].address)) ==
        NormalisedAddress(which)) {
      return i;
    }
  }
  return std::nullopt;
}

nlohmann::json DriveJson(const DriveSession& session, std::size_t index) {
  const DriveEntry& drive = session.drives[index];
  return {
      {"index", index + 1},
      {"label", drive.label},
      {"address", AddressPart(session.transport->mode, drive.address)},
      {"vendor", drive.vendor},
      {"product", drive.product},
      {"revision", drive.revision},
      {"device", OrNull(drive.device)},
      {"nodes", {{"block", OrNull(drive.nodes.block)}, {"generic", OrNull(drive.nodes.generic)}}},
  };
}

nlohmann::json AccessProblemsJson(Platform& platform, int language) {
  nlohmann::json problems = nlohmann::json::array();
  for (const NodeAccessProblem& problem : platform.AccessProblems()) {
    problems.push_back({{"node", problem.node},
                        {"reason", AccessReasonText(problem, language)},
                        {"remedy", AccessRemedyText(problem, language)}});
  }
  return problems;
}

}  // namespace orvel
