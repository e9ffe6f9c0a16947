#include <algorithm>
#include <iomanip>
#include <sstream>

#include "cli/cli_context.h"
#include "cli/terminal_host.h"
#include "firmware/catalogue.h"
#include "firmware/image_file.h"
#include "update/page_texts.h"
#include "update/update_procedure.h"

namespace orvel {
namespace {

constexpr const char* kAllNamesTaken = "CDRWFW00..09";

std::string DriveNotTouched(const CliContext& ctx) {
  return ctx.Tr("The drive was not touched.\n", "ドライブには何も送信していません。\n");
}

std::string StaysInUpdateMode(const CliContext& ctx) {
  return ctx.Tr("The drive stays in update mode until it is switched off and on.\n",
                "ドライブは電源を切って入れ直すまでアップデートモードのままです。\n");
}

TerminalHostOptions HostOptions(const CliContext& ctx) {
  TerminalHostOptions options;
  options.language = ctx.options.language;
  // Trace and verbose lines on the same terminal would land inside a redrawn bar.
  options.redrawProgress =
      ctx.env.outputIsTerminal && !ctx.options.json && !ctx.options.trace && ctx.options.verbose == 0;
  options.quiet = ctx.options.json;
  return options;
}

// The result page as the information pane shows it (BackupFailed has no text of its own).
void PrintResultPage(CliContext& ctx, int page, const std::string& detail) {
  const std::string text = TerminalText(InformationText(page, ctx.options.language, false));
  std::ostream& out = ctx.text();
  if (!text.empty()) out << text << (text.back() == '\n' ? "" : "\n");
  if (page == BackupFailed) out << ctx.Tr("The backup failed.\n", "バックアップに失敗しました。\n");
  if (!detail.empty()) out << "(" << detail << ")\n";
}

// A drive that could not be held got no command; one that changed since the
// list was made must be chosen anew.
void TellWhyNotHeld(CliContext& ctx, DeviceClaimResult claim) {
  if (claim == DeviceClaimResult::Changed) {
    ctx.text() << ctx.Tr("The drive list is out of date: list the drives again (orvel-cli drives) and choose the drive "
                         "anew.\n",
                         "ドライブの一覧が古くなっています。ドライブを一覧し直し（orvel-cli drives）、ドライブを選び直して"
                         "ください。\n");
  }
}

// Only a file that was written is named: the name chosen beforehand may never
// have been used (the drive lets no backup be read, or the name was taken).
void PrintBackupOutcome(CliContext& ctx, const AttemptReport& report) {
  if (report.backupWritten) {
    ctx.text() << ctx.Tr("Backup written to ", "バックアップの書き込み先: ") << report.backupFile;
    if (!report.backupNameTaken.empty()) {
      ctx.text() << ctx.Tr(" (" + report.backupNameTaken + " was taken meanwhile)",
                           "（" + report.backupNameTaken + " は途中で使用されました）");
    }
    ctx.text() << '\n';
  } else if (report.backupSkipped) {
    ctx.text() << ctx.Tr("No backup was written: the drive does not let its firmware be read back by address.\n",
                         "バックアップは書き込んでいません: このドライブはファームウェアをアドレス指定で読み出せません。\n");
  }
}

nlohmann::json PageJson(int page) { return {{"number", page}, {"name", std::string(PageName(page))}}; }

template <class T>
nlohmann::json OrNull(bool known, const T& value) {
  return known ? nlohmann::json(value) : nlohmann::json(nullptr);
}

// What an attempt on the drive came to; the same keys for `update` and `backup`.
// typeCodeAccepted is null where no type-code decision was made (`backup`).
// backupRequested: --backup given (always, for `backup`).
nlohmann::json OutcomeJson(const UpdateProcedure& procedure, std::optional<int> page,
                           const nlohmann::json& typeCodeAccepted, bool backupRequested) {
  const AttemptReport& report = procedure.lastAttempt;
  const bool switched = report.switchRan && report.switchResult != 0;
  const bool written = report.backupWritten;
  return {
      {"page", page ? PageJson(*page) : nlohmann::json(nullptr)},
      {"driveClaim", report.driveClaim ? nlohmann::json(DriveClaimName(*report.driveClaim)) : nlohmann::json(nullptr)},
      {"switchResult", OrNull(report.switchRan, report.switchResult)},
      {"typeCodeAccepted", typeCodeAccepted},
      {"driveTypeCode", OrNull(switched, TypeCodeText(procedure.driveTypeCode))},
      {"driveFamily", OrNull(switched, procedure.driveFamily)},
      {"backup",
       {{"requested", backupRequested},
        {"notPossible", report.backupSkipped},
        {"written", written},
        {"file", OrNull(written, report.backupFile)},
        {"form", OrNull(written, FormName(FormOfFamily(procedure.sourceFamily)))},
        {"nameTaken", OrNull(!report.backupNameTaken.empty(), report.backupNameTaken)}}},
      {"progress", procedure.ShownProgress()},
  };
}

// An interruption held through the attempt, which ends the program once the document is out.
nlohmann::json InterruptionJson(const CliContext& ctx, Interruption held) {
  if (held == 0) return nullptr;
  const std::string number = std::to_string(held);
  return {{"code", RowOf(StopCode::Interrupted).code},
          {"number", held},
          {"reason", ctx.Tr("interruption " + number +
                                " arrived during the attempt and was held until it ended; the program ends by it now",
                            "試行中に割り込み " + number + " が届き、試行が終わるまで保留しました。これによりプログラムは"
                            "ここで終了します")}};
}

bool Confirmed(CliContext& ctx, const std::string& question) {
  ctx.err << question << " [y/N] " << std::flush;
  if (!ctx.env.readLine) return false;
  const std::optional<std::string> answer = ctx.env.readLine();
  return answer.has_value() && (*answer == "y" || *answer == "Y" || *answer == "yes");
}

// Whether `path` leads to a node the platform could not open for this user.
bool PathRefused(Platform& platform, const std::string& path) {
  const std::string wanted = platform.ResolveNodePath(path);
  for (const NodeAccessProblem& problem : platform.AccessProblems()) {
    if (platform.ResolveNodePath(problem.node) == wanted) return true;
  }
  return false;
}

// A session with the drive named by `which` resolved; exit status. No
// command beyond discovery's INQUIRY reaches anything `which` names that is
// not a listed drive.
int OpenNamedDrive(CliContext& ctx, DriveSession& session, const std::string& which, std::size_t* index) {
  const int opened = OpenDriveSession(ctx, session);
  if (opened != kExitOk) return opened;
  const std::optional<std::size_t> found = FindDrive(session, which);
  if (found) {
    *index = *found;
    return kExitOk;
  }
  Platform& platform = *session.platform;
  const std::string count = std::to_string(session.drives.size());
  const std::string listed = ctx.Tr(count + " listed by `drives`", "`drives` の一覧は " + count + " 台");
  StopCode code = StopCode::NoSuchDrive;
  std::string why = ctx.Tr("no such drive: ", "そのようなドライブはありません: ") + which + ctx.Tr(" (", "（") + listed +
                    ctx.Tr(")", "）");
  if (IsNodePath(which)) {
    // A path names a node for sure: refused, or no supported drive.
    const bool refused = PathRefused(platform, which);
    code = refused ? StopCode::DriveNotAccessible : StopCode::NotADrive;
    why = which +
          (refused ? ctx.Tr(": this user may not open the drive", ": このユーザーはこのドライブを開けません")
                   : ctx.Tr(" is not a supported drive (" + listed + ")",
                            " は対応するドライブではありません（" + listed + "）")) +
          ctx.Tr("; it was not touched", "。何も送信していません");
  } else if (!platform.AccessProblems().empty()) {
    // The drive meant may be one this user may not open.
    code = StopCode::DrivesNotAccessible;
    why += ctx.Tr("; drives exist that this user may not open", "。このユーザーが開けないドライブがあります");
  }
  const int status = ctx.Stop(code, why);
  ctx.PrintDocument({{"accessProblems", AccessProblemsJson(platform, ctx.options.language)}}, status);
  return status;
}

// What the dialog does on selecting the file, with the reason kept for the
// operator (doc["file"]), and what the load would refuse only after the drive
// had been switched to update mode and left there. The exit status of a
// refusal, said while the drive is still untouched; nothing when the file may go on.
// The end of a command that only reads from the drive: the drive let go, and
// what state it is left in. Once switched, only a power cycle brings it back.
void EndReadingAttempt(CliContext& ctx, UpdateProcedure& procedure, TerminalHost& host, std::optional<int> page) {
  procedure.LetDriveGo();
  procedure.EndAttempt();
  host.FinishProgressLine();
  if (!procedure.lastAttempt.switchRan) {
    ctx.text() << DriveNotTouched(ctx);
  } else if (page != UpdateModeFailed) {
    ctx.text() << StaysInUpdateMode(ctx);
  }
}

// The listed drive held and switched to update mode, for the commands that
// only read from it; the command's exit status when that did not happen.
template <class Finish, class ProcedureStop>
std::optional<int> HoldAndSwitch(CliContext& ctx, UpdateProcedure& procedure, const DriveEntry& drive,
                                 Finish& finish, ProcedureStop& procedureStop) {
  if (procedure.HoldListedDrive(&drive.address) == 0) {
    PrintResultPage(ctx, UpdateModeFailed, procedure.lastAttempt.detail);
    TellWhyNotHeld(ctx, *procedure.lastAttempt.driveClaim);
    return finish(procedureStop(), UpdateModeFailed);
  }
  procedure.BeginAttempt();
  const int switchResult = procedure.SwitchDriveToUpdateMode();
  procedure.lastAttempt.switchRan = true;
  procedure.lastAttempt.switchResult = switchResult;
  if (switchResult == 0) {
    PrintResultPage(ctx, UpdateModeFailed, procedure.lastAttempt.detail);
    return finish(procedureStop(), UpdateModeFailed);
  }
  if (switchResult < 0) ctx.text() << ctx.Tr("The drive's flash ROM is blank.\n", "ドライブのフラッシュROMは空です。\n");
  return std::nullopt;
}

std::optional<int> RefuseFileBeforeTheDrive(CliContext& ctx, DriveSession& session, const std::string& file,
                                            nlohmann::json& doc, SourceIdentification* identified) {
  const SourceIdentification id = IdentifyFile(session.platform->Files(), file);
  *identified = id;
  const std::string reason = WhyNotIdentified(ctx, session.platform->Files(), file, id);
  doc["file"] = IdentificationJson(file, id, reason);
  if (!ctx.options.json) PrintIdentification(ctx, ctx.out, file, id, reason);
  if (id.outcome == IdentifyOutcome::DidNotOpen) {
    return ctx.Stop(StopCode::FileNotOpened, file + ": " + IdentifyReason(id, ctx.options.language));
  }
  if (const std::optional<StopCode> refused = IdentificationStop(id)) {
    // Nothing could pass the type-code decision; the drive is left alone.
    return ctx.Stop(*refused, file +
                                  ctx.Tr(" is not a firmware file of a supported drive: ",
                                         " は対応するドライブのファームウェアファイルではありません: ") +
                                  reason + ctx.Tr("; the drive was not touched", "。ドライブには何も送信していません"));
  }

  // A name or size that does not fit the file's row: said as the dialog's
  // type-code refusal would be, but before the switch.
  FileError openError = FileError::None;
  const std::string misfit =
      SourceFileMisfit(session.platform->Files(), file, id.entryIndex, &openError, ctx.options.language);
  if (!misfit.empty()) {
    const StopCode code = openError != FileError::None ? StopCode::FileNotOpened : StopCode::FileMisfit;
    return ctx.Stop(code, misfit + ctx.Tr("; the drive was not touched", "。ドライブには何も送信していません"));
  }
  return std::nullopt;
}

}  // namespace

int CommandUpdate(CliContext& ctx, const UpdateArgs& args) {
  DriveSession session;
  std::size_t index = 0;
  const int opened = OpenNamedDrive(ctx, session, args.drive, &index);
  if (opened != kExitOk) return opened;
  const DriveEntry& drive = session.drives[index];

  nlohmann::json doc = {{"drive", DriveJson(session, index)}};
  auto finish = [&](int status) {
    doc["accessProblems"] = AccessProblemsJson(*session.platform, ctx.options.language);
    ctx.PrintDocument(doc, status);
    return status;
  };

  SourceIdentification id;
  if (const std::optional<int> refused = RefuseFileBeforeTheDrive(ctx, session, args.file, doc, &id)) {
    return finish(*refused);
  }

  TerminalHost host(ctx.out, ctx.err, HostOptions(ctx));
  UpdateProcedure procedure(*session.transport, host);
  procedure.detailLanguage = ctx.options.language;
  host.SetSourceName(args.file);
  host.RequestBackup(args.backup);
  if (args.passType) host.PassType(*args.passType);
  procedure.IdentifySourceFile();
  if (args.backup && host.BackupCheckState() == 0) {
    PrintResultPage(ctx, NoBackupFileName, {});
    const int status = ctx.Stop(StopCode::BackupNamesTaken,
                                kAllNamesTaken + ctx.Tr(" are all taken; the drive was not touched",
                                                        " はすべて使用済みです。ドライブには何も送信していません"));
    doc["outcome"] = OutcomeJson(procedure, NoBackupFileName, nullptr, true);
    return finish(status);
  }

  if (!args.yes) {
    const std::string file = args.file + " (" + Printable(TypeCodeText(id.typeCode)) + ")";
    const std::string label = Printable(drive.label);
    const std::string question =
        args.backup ? ctx.Tr("Write " + file + " to " + label + ", backing up its firmware first?",
                             "ファームウェアをバックアップしてから、" + file + " を " + label + " に書き込みますか?")
                    : ctx.Tr("Write " + file + " to " + label + "?", file + " を " + label + " に書き込みますか?");
    if (!Confirmed(ctx, question)) {
      ctx.err << ctx.Tr("Nothing was written to the drive.\n", "ドライブには何も書き込んでいません。\n");
      return finish(ctx.KeepStop(StopCode::NotConfirmed, ctx.Tr("not confirmed; nothing was written to the drive",
                                                                "確認されませんでした。ドライブには何も書き込んでいません")));
    }
  }

  const int page = procedure.RunUpdateAttempt(&drive.address);
  host.FinishProgressLine();
  const AttemptReport& report = procedure.lastAttempt;
  PrintResultPage(ctx, page, page == Completed ? std::string() : report.detail);
  if (report.driveClaim) TellWhyNotHeld(ctx, *report.driveClaim);
  if (!report.switchRan) ctx.text() << DriveNotTouched(ctx);
  if (page == BackupFailed) ctx.text() << ctx.Tr("The drive was not rewritten.\n", "ドライブは書き換えていません。\n");
  // Refused or stopped after the switch: nothing brings the drive back but a power cycle.
  if (page == TypeCodeMismatch && report.stop == AttemptStop::TypeCodeRefused && args.passType &&
      DifferOnlyInLastTwo(procedure.driveTypeCode, procedure.sourceTypeCode)) {
    ctx.text() << ctx.Tr("The --pass-type key does not match the file's.\n",
                         "--pass-type のキーがファイルのキーと一致しません。\n");
  }
  if (report.switchRan && (page == TypeCodeMismatch || page == BackupFailed)) {
    ctx.text() << StaysInUpdateMode(ctx);
  }
  PrintBackupOutcome(ctx, report);

  int status = kExitOk;
  if (const std::optional<StopCode> stop = StopOfReport(report)) {
    status = ctx.KeepStop(*stop, report.detail);
  }
  doc["outcome"] = OutcomeJson(
      procedure, page, OrNull(report.switchRan && report.switchResult != 0, report.typeCodeAccepted), args.backup);
  doc["interruption"] = InterruptionJson(ctx, report.heldInterruption);
  finish(status);
  ctx.ActOnHeldInterruption(*session.platform, report.heldInterruption);
  return status;
}

int CommandBackup(CliContext& ctx, const std::string& which) {
  DriveSession session;
  std::size_t index = 0;
  const int opened = OpenNamedDrive(ctx, session, which, &index);
  if (opened != kExitOk) return opened;
  const DriveEntry& drive = session.drives[index];

  nlohmann::json doc = {{"drive", DriveJson(session, index)}};
  TerminalHostOptions hostOptions = HostOptions(ctx);
  hostOptions.backupOnly = true;
  TerminalHost host(ctx.out, ctx.err, hostOptions);
  UpdateProcedure procedure(*session.transport, host);
  procedure.detailLanguage = ctx.options.language;
  // The page shown when it stops; none when the backup is written (the dialog has no page for a backup alone).
  auto finish = [&](int status, std::optional<int> page) {
    EndReadingAttempt(ctx, procedure, host, page);
    const AttemptReport& report = procedure.lastAttempt;
    doc["outcome"] = OutcomeJson(procedure, page, nullptr, true);
    doc["interruption"] = InterruptionJson(ctx, report.heldInterruption);
    doc["accessProblems"] = AccessProblemsJson(*session.platform, ctx.options.language);
    ctx.PrintDocument(doc, status);
    ctx.ActOnHeldInterruption(*session.platform, report.heldInterruption);
    return status;
  };
  // A stop the procedure named (its detail was told on the result page or standard error).
  auto procedureStop = [&]() {
    const AttemptReport& report = procedure.lastAttempt;
    const std::optional<StopCode> stop = StopOfReport(report);
    return ctx.KeepStop(stop.value_or(StopCode::BackupWriteFailed), report.detail);
  };

  // The form is learnt only after the switch: both series must have a free
  // name, and the directory must take a whole image, before the drive hears anything.
  if (procedure.PrepareBackupFile(BackupSeries::Both) == 0) {
    PrintResultPage(ctx, NoBackupFileName, {});
    ctx.err << "orvel-cli: " << procedure.lastAttempt.detail << '\n';
    return finish(procedureStop(), NoBackupFileName);
  }

  // Nothing reaches a drive that is not the one listed, or that another program may reach meanwhile.
  if (const std::optional<int> stopped = HoldAndSwitch(ctx, procedure, drive, finish, procedureStop)) {
    return *stopped;
  }

  // No source file to take the form from: the drive's own family decides it.
  if (procedure.TakeBackupFormFromDrive() == 0) {
    const std::string family = std::to_string(procedure.driveFamily);
    const int status = ctx.Stop(StopCode::BackupFormUnknown,
                                ctx.Tr("no file form is known for drive family " + family,
                                       "ドライブのファミリー " + family + " のファイル形式は不明です"));
    return finish(status, BackupFailed);
  }

  host.RequestBackup(true);
  procedure.ChooseBackupFileName();
  if (host.BackupCheckState() == 0) {
    PrintResultPage(ctx, NoBackupFileName, {});
    return finish(ctx.Stop(StopCode::BackupNamesTaken, kAllNamesTaken + ctx.Tr(" are all taken", " はすべて使用済みです")),
                  NoBackupFileName);
  }
  if (procedure.alternateReadForm != 0) {
    // The dialog's notice goes on with an update; here there is nothing to go on with.
    procedure.lastAttempt.backupSkipped = true;
    const std::string detail =
        ctx.Tr("the drive does not let its firmware be read back by address; no backup is possible",
               "このドライブはファームウェアをアドレス指定で読み出せません。バックアップはできません");
    return finish(ctx.Stop(StopCode::BackupNotPossible, detail), BackupFailed);
  }
  if (procedure.BackUpFirmware() == 0) {
    host.FinishProgressLine();
    PrintResultPage(ctx, BackupFailed, procedure.lastAttempt.detail);
    return finish(procedureStop(), BackupFailed);
  }
  host.FinishProgressLine();
  PrintBackupOutcome(ctx, procedure.lastAttempt);
  return finish(kExitOk, std::nullopt);
}

namespace {

// How many differing ranges the text for people lists; the document lists all.
constexpr std::size_t kRangesShown = 20;
constexpr int kOffsetDigits = 6;

std::string HexOffset(std::size_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << std::setw(kOffsetDigits) << std::setfill('0') << value;
  return text.str();
}

void PrintComparison(CliContext& ctx, const std::string& file, const FirmwareComparison& comparison) {
  std::ostream& out = ctx.text();
  const std::string compared = std::to_string(comparison.bytesCompared);
  if (comparison.Equal()) {
    out << ctx.Tr("The drive holds the firmware of " + file + ": all " + compared + " bytes are equal.\n",
                  "ドライブのファームウェアは " + file + " と同じです（" + compared + " バイトすべてが一致しました）。\n");
    return;
  }
  const std::string differing = std::to_string(comparison.bytesDiffering);
  const std::string ranges = std::to_string(comparison.ranges.size());
  out << ctx.Tr("The drive's firmware differs from " + file + " in " + differing + " of " + compared + " bytes, in " +
                    ranges + " ranges:\n",
                "ドライブのファームウェアは " + file + " と " + compared + " バイト中 " + differing + " バイトが " +
                    ranges + " か所で異なります:\n");
  for (std::size_t i = 0; i < comparison.ranges.size() && i < kRangesShown; ++i) {
    const ByteRange& range = comparison.ranges[i];
    out << "  " << HexOffset(range.offset) << ".." << HexOffset(range.offset + range.length - 1) << "  "
        << ctx.Tr(std::to_string(range.length) + " bytes", std::to_string(range.length) + " バイト") << '\n';
  }
  if (comparison.ranges.size() > kRangesShown) {
    const std::string more = std::to_string(comparison.ranges.size() - kRangesShown);
    out << ctx.Tr("  ... and " + more + " more ranges (--json lists them all)\n",
                  "  ……ほか " + more + " か所（--json ですべて表示されます）\n");
  }
}

nlohmann::json RangesJson(const FirmwareComparison& comparison) {
  nlohmann::json ranges = nlohmann::json::array();
  for (const ByteRange& range : comparison.ranges) ranges.push_back({{"offset", range.offset}, {"length", range.length}});
  return ranges;
}

}  // namespace

int CommandVerify(CliContext& ctx, const std::string& file, const std::string& which) {
  DriveSession session;
  std::size_t index = 0;
  const int opened = OpenNamedDrive(ctx, session, which, &index);
  if (opened != kExitOk) return opened;
  const DriveEntry& drive = session.drives[index];

  nlohmann::json doc = {{"drive", DriveJson(session, index)}};
  SourceIdentification id;
  if (const std::optional<int> refused = RefuseFileBeforeTheDrive(ctx, session, file, doc, &id)) {
    doc["accessProblems"] = AccessProblemsJson(*session.platform, ctx.options.language);
    ctx.PrintDocument(doc, *refused);
    return *refused;
  }

  TerminalHost host(ctx.out, ctx.err, HostOptions(ctx));
  UpdateProcedure procedure(*session.transport, host);
  procedure.detailLanguage = ctx.options.language;
  host.SetSourceName(file);
  procedure.IdentifySourceFile();
  FirmwareComparison comparison;
  bool compared = false;
  // The page shown when the drive did not enter update mode; none otherwise
  // (the dialog has no page for a comparison).
  auto finish = [&](int status, std::optional<int> page) {
    EndReadingAttempt(ctx, procedure, host, page);
    const AttemptReport& report = procedure.lastAttempt;
    doc["outcome"] = OutcomeJson(procedure, page, nullptr, false);
    doc["result"] = compared ? nlohmann::json(comparison.Equal() ? "equal" : "different") : nlohmann::json(nullptr);
    doc["differingRanges"] = compared ? RangesJson(comparison) : nlohmann::json(nullptr);
    doc["bytesCompared"] = OrNull(compared, comparison.bytesCompared);
    doc["bytesDiffering"] = OrNull(compared, comparison.bytesDiffering);
    doc["interruption"] = InterruptionJson(ctx, report.heldInterruption);
    doc["accessProblems"] = AccessProblemsJson(*session.platform, ctx.options.language);
    ctx.PrintDocument(doc, status);
    ctx.ActOnHeldInterruption(*session.platform, report.heldInterruption);
    return status;
  };
  auto procedureStop = [&]() {
    const AttemptReport& report = procedure.lastAttempt;
    return ctx.KeepStop(StopOfReport(report).value_or(StopCode::BackupReadFailed), report.detail);
  };

  // Claimed as for a backup: nothing reaches a drive that is not the one listed.
  if (const std::optional<int> stopped = HoldAndSwitch(ctx, procedure, drive, finish, procedureStop)) {
    return *stopped;
  }

  ctx.text() << ctx.Tr("Reading the drive's firmware back to compare it with " + file + ".\n",
                       "ドライブのファームウェアを読み出して " + file + " と比較します。\n");
  if (procedure.CompareDriveFirmware(&comparison) == 0) {
    host.FinishProgressLine();
    const AttemptReport& report = procedure.lastAttempt;
    return finish(ctx.Stop(StopOfReport(report).value_or(StopCode::BackupReadFailed), report.detail), std::nullopt);
  }
  compared = true;
  host.FinishProgressLine();
  if (procedure.lastAttempt.switchResult > 0 && !std::equal(procedure.driveTypeCode.begin(),
                                      procedure.driveTypeCode.begin() + kTypeCodeLength,
                                      procedure.sourceTypeCode.begin())) {
    const std::string driveCode = Printable(TypeCodeText(procedure.driveTypeCode));
    const std::string fileCode = Printable(TypeCodeText(procedure.sourceTypeCode));
    ctx.text() << ctx.Tr("The drive's type code \"" + driveCode + "\" is not the file's \"" + fileCode + "\".\n",
                         "ドライブのタイプコード「" + driveCode + "」はファイルのタイプコード「" + fileCode +
                             "」と異なります。\n");
  }
  PrintComparison(ctx, file, comparison);
  if (comparison.Equal()) return finish(kExitOk, std::nullopt);
  return finish(ctx.KeepStop(StopCode::FirmwareDiffers,
                             "the drive's firmware differs from " + file + " in " +
                                 std::to_string(comparison.bytesDiffering) + " bytes (" +
                                 std::to_string(comparison.ranges.size()) + " ranges)"),
                std::nullopt);
}

}  // namespace orvel
