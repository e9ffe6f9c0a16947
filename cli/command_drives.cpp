#include "cli/cli_context.h"

namespace orvel {

int CommandDrives(CliContext& ctx) {
  DriveSession session;
  const int opened = OpenDriveSession(ctx, session);
  if (opened != kExitOk) return opened;

  if (ctx.options.json) {
    nlohmann::json list = nlohmann::json::array();
    for (std::size_t i = 0; i < session.drives.size(); ++i) list.push_back(DriveJson(session, i));
    ctx.PrintDocument({{"drives", list}}, kExitOk);
    return kExitOk;
  }
  if (session.drives.empty()) {
    ctx.out << "No supported drive found.\n";
    return kExitOk;
  }
  for (std::size_t i = 0; i < session.drives.size(); ++i) {
    const DriveEntry& drive = session.drives[i];
    ctx.out << (i + 1) << "  " << Printable(drive.label) << '\n'
            << "   address " << AddressPart(session.transport->mode, drive.address) << "  vendor \""
            << Printable(drive.vendor) << "\"  product \"" << Printable(drive.product) << "\"  revision \""
            << Printable(drive.revision) << "\"\n";
  }
  return kExitOk;
}

}  // namespace orvel
