#include <algorithm>

#include "cli/cli_context.h"
#include "cli/terminal_host.h"
#include "firmware/catalogue.h"
#include "firmware/image_file.h"
#include "update/page_texts.h"
#include "update/update_procedure.h"

namespace orvel {
namespace {

int ExitOfPage(int page) {
  switch (page) {
    case Completed:
      return kExitOk;
    case UpdateModeFailed:
      return kExitNoUpdateMode;
    case TypeCodeMismatch:
      return kExitTypeCodeRefused;
    case BackupFailed:
    case NoBackupFileName:
      return kExitBackupFailed;
    default:
      return kExitUpdateFailed;
  }
}

TerminalHostOptions HostOptions(const CliContext& ctx) {
  TerminalHostOptions options;
  options.language = ctx.options.language;
  // Trace lines on the same terminal would land inside a redrawn bar.
  options.redrawProgress = ctx.env.outputIsTerminal && !ctx.options.json && !ctx.options.trace;
  options.quiet = ctx.options.json;
  return options;
}

int Bar(int position) { return std::clamp(position, 0, kProgressMax); }

// The result page as the information pane shows it (BackupFailed has no text of its own).
void PrintResultPage(CliContext& ctx, int page, const std::string& detail) {
  const std::string text = TerminalText(InformationText(page, ctx.options.language, false));
  std::ostream& out = ctx.text();
  if (!text.empty()) out << text << (text.back() == '\n' ? "" : "\n");
  if (page == BackupFailed) out << "The backup failed.\n";
  if (!detail.empty()) out << "(" << detail << ")\n";
}

// A drive that could not be held got no command; one that changed since the
// list was made must be chosen anew.
void TellWhyNotHeld(CliContext& ctx, DeviceClaimResult claim) {
  if (claim == DeviceClaimResult::Changed) {
    ctx.text() << "The drive list is out of date: list the drives again (orvel-cli drives) and choose the drive anew.\n";
  }
}

// Only a file that was written is named: the name chosen beforehand may never
// have been used (the drive lets no backup be read, or the name was taken).
void PrintBackupOutcome(CliContext& ctx, const AttemptReport& report) {
  if (report.backupWritten) {
    ctx.text() << "Backup written to " << report.backupFile;
    if (!report.backupNameTaken.empty()) ctx.text() << " (" << report.backupNameTaken << " was taken meanwhile)";
    ctx.text() << '\n';
  } else if (report.backupSkipped) {
    ctx.text() << "No backup was written: the drive does not let its firmware be read back by address.\n";
  }
}

nlohmann::json PageJson(int page) { return {{"number", page}, {"name", std::string(PageName(page))}}; }

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
  const std::string listed = std::to_string(session.drives.size()) + " listed by `drives`";
  int status = kExitNoSuchDriveOrFile;
  std::string message;
  if (IsNodePath(which)) {
    // A path names a node for sure: refused, or no supported drive.
    if (PathRefused(platform, which)) {
      status = kExitNotAccessible;
      message = which + ": this user may not open the drive; it was not touched";
    } else {
      message = which + " is not a supported drive (" + listed + "); it was not touched";
    }
  } else if (!platform.AccessProblems().empty()) {
    // The drive meant may be one this user may not open.
    status = kExitNotAccessible;
    message = "no such drive: " + which + " (" + listed + "); drives exist that this user may not open";
  } else {
    message = "no such drive: " + which + " (" + listed + ")";
  }
  ctx.Fail(status, message);
  if (ctx.options.json) {
    ctx.PrintJson({{"command", ctx.command},
                   {"error", ctx.lastError},
                   {"accessProblems", AccessProblemsJson(platform)},
                   {"exitStatus", status}});
  }
  return status;
}

// The system kept the drive from this user: at the claim, or at the update-mode request.
bool Unreachable(const AttemptReport& report) {
  return report.driveUnreachable || report.driveClaim == DeviceClaimResult::NoAccess;
}

}  // namespace

int CommandUpdate(CliContext& ctx, const UpdateArgs& args) {
  DriveSession session;
  std::size_t index = 0;
  const int opened = OpenNamedDrive(ctx, session, args.drive, &index);
  if (opened != kExitOk) return opened;
  const DriveEntry& drive = session.drives[index];

  nlohmann::json doc = {{"command", "update"}, {"drive", DriveJson(session, index)}};
  auto finish = [&](int status) {
    doc["accessProblems"] = AccessProblemsJson(*session.platform);
    doc["exitStatus"] = status;
    if (!ctx.lastError.empty()) doc["error"] = ctx.lastError;
    if (ctx.options.json) ctx.PrintJson(doc);
    return status;
  };

  // What the dialog does on selecting the file, with the reason kept for the operator.
  const SourceIdentification id = IdentifyFile(session.platform->Files(), args.file);
  const std::string reason = WhyNotIdentified(args.file, id);
  doc["file"] = IdentificationJson(args.file, id, reason);
  if (!ctx.options.json) PrintIdentification(ctx.out, args.file, id, reason);
  if (id.outcome == IdentifyOutcome::DidNotOpen) {
    ctx.Fail(kExitNoSuchDriveOrFile, args.file + ": " + IdentifyReason(id));
    return finish(kExitNoSuchDriveOrFile);
  }
  if (id.outcome != IdentifyOutcome::Identified) {
    // Nothing could pass the type-code decision; the drive is left alone.
    ctx.Fail(kExitTypeCodeRefused, args.file + " is not a firmware file of a supported drive: " + reason +
                                       "; the drive was not touched");
    return finish(kExitTypeCodeRefused);
  }

  // What the load would refuse only after the drive had been switched to update
  // mode and left there (a name or size that does not fit the file's row): said
  // while the drive is still untouched, as the dialog's type-code refusal.
  FileError openError = FileError::None;
  const std::string misfit = SourceFileMisfit(session.platform->Files(), args.file, id.entryIndex, &openError);
  if (!misfit.empty()) {
    const int status = openError != FileError::None ? kExitNoSuchDriveOrFile : kExitTypeCodeRefused;
    ctx.Fail(status, misfit + "; the drive was not touched");
    return finish(status);
  }

  TerminalHost host(ctx.out, ctx.err, HostOptions(ctx));
  UpdateProcedure procedure(*session.transport, host);
  host.SetSourceName(args.file);
  host.RequestBackup(args.backup);
  procedure.IdentifySourceFile();
  if (args.backup && host.BackupCheckState() == 0) {
    PrintResultPage(ctx, NoBackupFileName, {});
    ctx.Fail(kExitBackupFailed, "CDRWFW00..09 are all taken; the drive was not touched");
    doc["outcome"] = {{"page", PageJson(NoBackupFileName)}, {"progress", 0}};
    return finish(kExitBackupFailed);
  }

  if (!args.yes) {
    const std::string question = "Write " + args.file + " (" + Printable(TypeCodeText(id.typeCode)) + ") to " +
                                 Printable(drive.label) + (args.backup ? ", backing up its firmware first?" : "?");
    if (!Confirmed(ctx, question)) {
      ctx.err << "Nothing was written to the drive.\n";
      ctx.lastError = "not confirmed; nothing was written to the drive";
      return finish(kExitUsage);
    }
  }

  const int page = procedure.RunUpdateAttempt(&drive.address);
  host.FinishProgressLine();
  const AttemptReport& report = procedure.lastAttempt;
  PrintResultPage(ctx, page, page == Completed ? std::string() : report.detail);
  if (report.driveClaim) TellWhyNotHeld(ctx, *report.driveClaim);
  if (!report.switchRan) ctx.text() << "The drive was not touched.\n";
  if (page == BackupFailed) ctx.text() << "The drive was not rewritten.\n";
  // Refused or stopped after the switch: nothing brings the drive back but a power cycle.
  if (report.switchRan && (page == TypeCodeMismatch || page == BackupFailed)) {
    ctx.text() << "The drive stays in update mode until it is switched off and on.\n";
  }
  PrintBackupOutcome(ctx, report);

  doc["outcome"] = {
      {"page", PageJson(page)},
      {"driveClaim", report.driveClaim ? nlohmann::json(DriveClaimName(*report.driveClaim)) : nlohmann::json(nullptr)},
      {"switchResult", report.switchResult},
      {"typeCodeAccepted", report.typeCodeAccepted},
      {"driveTypeCode", TypeCodeText(procedure.driveTypeCode)},
      {"driveFamily", procedure.driveFamily},
      {"backup",
       {{"requested", report.backupRequested},
        {"notPossible", report.backupSkipped},
        {"written", report.backupWritten},
        {"file", report.backupWritten ? nlohmann::json(report.backupFile) : nlohmann::json(nullptr)},
        {"nameTaken", report.backupNameTaken.empty() ? nlohmann::json(nullptr) : nlohmann::json(report.backupNameTaken)}}},
      {"progress", Bar(report.finalProgress)},
      {"detail", report.detail},
  };
  const int status = finish(Unreachable(report) && page == UpdateModeFailed ? kExitNotAccessible : ExitOfPage(page));
  ctx.ActOnHeldInterruption(*session.platform, report.heldInterruption);
  return status;
}

int CommandBackup(CliContext& ctx, const std::string& which) {
  DriveSession session;
  std::size_t index = 0;
  const int opened = OpenNamedDrive(ctx, session, which, &index);
  if (opened != kExitOk) return opened;
  const DriveEntry& drive = session.drives[index];

  nlohmann::json doc = {{"command", "backup"}, {"drive", DriveJson(session, index)}};
  TerminalHost host(ctx.out, ctx.err, HostOptions(ctx));
  UpdateProcedure procedure(*session.transport, host);
  bool switched = false;
  auto finish = [&](int status, int page, const std::string& detail) {
    procedure.LetDriveGo();
    procedure.EndAttempt();
    host.FinishProgressLine();
    // Once switched, only a power cycle brings the drive back to normal operation.
    if (!switched) {
      ctx.text() << "The drive was not touched.\n";
    } else if (page != UpdateModeFailed) {
      ctx.text() << "The drive stays in update mode until it is switched off and on.\n";
    }
    doc["page"] = PageJson(page);
    doc["progress"] = Bar(procedure.progressPos);
    doc["detail"] = detail;
    doc["accessProblems"] = AccessProblemsJson(*session.platform);
    doc["exitStatus"] = status;
    if (!ctx.lastError.empty()) {
      doc["error"] = ctx.lastError;
    } else if (status != kExitOk) {
      doc["error"] = detail;
    }
    if (ctx.options.json) ctx.PrintJson(doc);
    ctx.ActOnHeldInterruption(*session.platform, procedure.lastAttempt.heldInterruption);
    return status;
  };

  // The form is learnt only after the switch: both series must have a free
  // name, and the directory must take a whole image, before the drive hears anything.
  if (procedure.PrepareBackupFile(BackupSeries::Both) == 0) {
    const std::string detail = procedure.lastAttempt.detail;
    PrintResultPage(ctx, NoBackupFileName, {});
    ctx.Fail(kExitBackupFailed, detail);
    return finish(kExitBackupFailed, NoBackupFileName, detail);
  }

  // Nothing reaches a drive that is not the one listed, or that another program may reach meanwhile.
  if (procedure.HoldListedDrive(&drive.address) == 0) {
    const std::string detail = procedure.lastAttempt.detail;
    doc["driveClaim"] = DriveClaimName(*procedure.lastAttempt.driveClaim);
    PrintResultPage(ctx, UpdateModeFailed, detail);
    TellWhyNotHeld(ctx, *procedure.lastAttempt.driveClaim);
    const int status = Unreachable(procedure.lastAttempt) ? kExitNotAccessible : kExitNoUpdateMode;
    return finish(status, UpdateModeFailed, detail);
  }
  doc["driveClaim"] = DriveClaimName(*procedure.lastAttempt.driveClaim);
  procedure.BeginAttempt();
  switched = true;
  const int switchResult = procedure.SwitchDriveToUpdateMode();
  doc["switchResult"] = switchResult;
  if (switchResult == 0) {
    const std::string detail = procedure.lastAttempt.detail;
    PrintResultPage(ctx, UpdateModeFailed, detail);
    return finish(Unreachable(procedure.lastAttempt) ? kExitNotAccessible : kExitNoUpdateMode, UpdateModeFailed,
                  detail);
  }
  doc["driveFamily"] = procedure.driveFamily;
  doc["driveTypeCode"] = TypeCodeText(procedure.driveTypeCode);
  if (switchResult < 0) ctx.text() << "The drive's flash ROM is blank.\n";

  // No source file to take the form from: the drive's own family decides it.
  if (procedure.TakeBackupFormFromDrive() == 0) {
    const std::string detail = "no file form is known for drive family " + std::to_string(procedure.driveFamily);
    ctx.Fail(kExitBackupFailed, detail);
    return finish(kExitBackupFailed, BackupFailed, detail);
  }
  doc["form"] = FormName(FormOfFamily(procedure.driveFamily));

  host.RequestBackup(true);
  procedure.ChooseBackupFileName();
  if (host.BackupCheckState() == 0) {
    PrintResultPage(ctx, NoBackupFileName, {});
    ctx.Fail(kExitBackupFailed, "CDRWFW00..09 are all taken");
    return finish(kExitBackupFailed, NoBackupFileName, ctx.lastError);
  }
  if (procedure.alternateReadForm != 0) {
    // The dialog's notice goes on with an update; here there is nothing to go on with.
    const std::string detail = "the drive does not let its firmware be read back by address; no backup is possible";
    ctx.Fail(kExitBackupFailed, detail);
    return finish(kExitBackupFailed, BackupFailed, detail);
  }
  if (procedure.BackUpFirmware() == 0) {
    host.FinishProgressLine();
    const std::string detail = procedure.lastAttempt.detail;
    PrintResultPage(ctx, BackupFailed, detail);
    return finish(kExitBackupFailed, BackupFailed, detail);
  }
  host.FinishProgressLine();
  PrintBackupOutcome(ctx, procedure.lastAttempt);
  doc["backupFile"] = procedure.backupFileName;
  return finish(kExitOk, BackingUp, {});
}

}  // namespace orvel
