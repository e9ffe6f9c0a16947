#include "cli/cli_context.h"

namespace orvel {

int CommandDrives(CliContext& ctx) {
  DriveSession session;
  const int opened = OpenDriveSession(ctx, session);
  if (opened != kExitOk) return opened;
  // A drive this user may not open is missing from the list, or listed but
  // out of reach of the update: either way the list is not the whole truth.
  const nlohmann::json problems = AccessProblemsJson(*session.platform, ctx.options.language);
  // People were told on standard error when the session opened.
  const int status =
      problems.empty() ? kExitOk : ctx.KeepStop(StopCode::DrivesNotAccessible,
                                       ctx.Tr("drives exist that this user may not open",
                                              "このユーザーが開けないドライブがあります"));

  if (ctx.options.json) {
    nlohmann::json list = nlohmann::json::array();
    for (std::size_t i = 0; i < session.drives.size(); ++i) list.push_back(DriveJson(session, i));
    ctx.PrintDocument({{"drives", list}, {"accessProblems", problems}}, status);
    return status;
  }
  if (session.drives.empty()) {
    ctx.out << ctx.Tr("No supported drive found.\n", "対応するドライブが見つかりません。\n");
    return status;
  }
  for (std::size_t i = 0; i < session.drives.size(); ++i) {
    const DriveEntry& drive = session.drives[i];
    ctx.out << (i + 1) << "  " << Printable(drive.label) << '\n'
            << ctx.Tr("   address ", "   アドレス ") << AddressPart(session.transport->mode, drive.address) << "  vendor \""
            << Printable(drive.vendor) << "\"  product \"" << Printable(drive.product) << "\"  revision \""
            << Printable(drive.revision) << "\"\n";
    if (!drive.nodes.block.empty() || !drive.nodes.generic.empty()) {
      ctx.out << "   nodes";
      if (!drive.nodes.block.empty()) ctx.out << "  block " << drive.nodes.block;
      if (!drive.nodes.generic.empty()) ctx.out << "  generic " << drive.nodes.generic;
      ctx.out << '\n';
    }
  }
  return status;
}

}  // namespace orvel
