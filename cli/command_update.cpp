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
  // Trace lines on the same terminal would land inside a redrawn bar.
  options.redrawProgress = ctx.env.outputIsTerminal && !ctx.options.json && !ctx.options.trace;
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
  ctx.PrintDocument({{"accessProblems", AccessProblemsJson(platform)}}, status);
  return status;
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
    doc["accessProblems"] = AccessProblemsJson(*session.platform);
    ctx.PrintDocument(doc, status);
    return status;
  };

  // What the dialog does on selecting the file, with the reason kept for the operator.
  const SourceIdentification id = IdentifyFile(session.platform->Files(), args.file);
  const std::string reason = WhyNotIdentified(ctx, session.platform->Files(), args.file, id);
  doc["file"] = IdentificationJson(args.file, id, reason);
  if (!ctx.options.json) PrintIdentification(ctx, ctx.out, args.file, id, reason);
  if (id.outcome == IdentifyOutcome::DidNotOpen) {
    return finish(ctx.Stop(StopCode::FileNotOpened, args.file + ": " + IdentifyReason(id, ctx.options.language)));
  }
  if (const std::optional<StopCode> refused = IdentificationStop(id)) {
    // Nothing could pass the type-code decision; the drive is left alone.
    return finish(ctx.Stop(*refused, args.file +
                                         ctx.Tr(" is not a firmware file of a supported drive: ",
                                                " は対応するドライブのファームウェアファイルではありません: ") +
                                         reason + ctx.Tr("; the drive was not touched", "。ドライブには何も送信していません")));
  }

  // What the load would refuse only after the drive had been switched to update
  // mode and left there (a name or size that does not fit the file's row): said
  // while the drive is still untouched, as the dialog's type-code refusal.
  FileError openError = FileError::None;
  const std::string misfit =
      SourceFileMisfit(session.platform->Files(), args.file, id.entryIndex, &openError, ctx.options.language);
  if (!misfit.empty()) {
    const StopCode code = openError != FileError::None ? StopCode::FileNotOpened : StopCode::FileMisfit;
    return finish(ctx.Stop(code, misfit + ctx.Tr("; the drive was not touched", "。ドライブには何も送信していません")));
  }

  TerminalHost host(ctx.out, ctx.err, HostOptions(ctx));
  UpdateProcedure procedure(*session.transport, host);
  procedure.detailLanguage = ctx.options.language;
  host.SetSourceName(args.file);
  host.RequestBackup(args.backup);
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
    procedure.LetDriveGo();
    procedure.EndAttempt();
    host.FinishProgressLine();
    const AttemptReport& report = procedure.lastAttempt;
    // Once switched, only a power cycle brings the drive back to normal operation.
    if (!report.switchRan) {
      ctx.text() << DriveNotTouched(ctx);
    } else if (page != UpdateModeFailed) {
      ctx.text() << StaysInUpdateMode(ctx);
    }
    doc["outcome"] = OutcomeJson(procedure, page, nullptr, true);
    doc["interruption"] = InterruptionJson(ctx, report.heldInterruption);
    doc["accessProblems"] = AccessProblemsJson(*session.platform);
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

}  // namespace orvel
