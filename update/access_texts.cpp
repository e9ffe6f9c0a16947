#include "update/access_texts.h"

#include <algorithm>
#include <vector>

namespace orvel {

namespace {

constexpr int kJapanese = 1;

constexpr const char* kJoinGroupJa =
    "ユーザーをグループ 'cdrom' に加えて（sudo usermod -aG cdrom $USER）ログインし直すか、root で実行してください";

bool Named(const NodeAccessProblem& p) {
  return p.reasonKind != AccessReason::Unnamed && p.remedyKind != AccessRemedy::Unnamed;
}

std::string ReasonJa(AccessReason reason) {
  switch (reason) {
    case AccessReason::PermissionDenied:
      return "権限がありません";
    case AccessReason::NotPermitted:
      return "操作が許可されていません";
    case AccessReason::VendorCommandsFiltered:
      return "CAP_SYS_RAWIO がないため、カーネルがベンダーコマンドを受け付けません";
    case AccessReason::AccessDenied:
      return "アクセスが拒否されました";
    case AccessReason::NotSupported:
      return "サポートされていません";
    case AccessReason::Unnamed:
      break;
  }
  return {};
}

std::string RemedyJa(AccessRemedy remedy) {
  switch (remedy) {
    case AccessRemedy::JoinCdromGroup:
      return kJoinGroupJa;
    case AccessRemedy::GenericNodeOrGroup:
      return std::string("ドライブの SCSI ジェネリックノード（/dev/sg*）への読み書きの権限をユーザーに与えてください: ") +
             kJoinGroupJa;
    case AccessRemedy::RunElevated:
      return "SCSI パススルーには管理者権限が必要です。管理者として実行したコマンドプロンプトから orvel-cli "
             "を実行してください";
    case AccessRemedy::OtherRoute:
      return "システムはこのデバイス名に SCSI コマンドを渡しません（Wine では dosdevices/cdromN をドライブの "
             "/dev/sgN にリンクしてください）";
    case AccessRemedy::LiftSimulatedRefusal:
      return "シナリオの no-access を外して実行してください";
    case AccessRemedy::Unnamed:
      break;
  }
  return {};
}

std::string CannotOpenJa(const NodeAccessProblem& p) {
  return p.node + " を開けません（" + ReasonJa(p.reasonKind) + "）: " + RemedyJa(p.remedyKind);
}

}  // namespace

std::string AccessReasonText(const NodeAccessProblem& problem, int language) {
  return language == kJapanese && Named(problem) ? ReasonJa(problem.reasonKind) : problem.reason;
}

std::string AccessRemedyText(const NodeAccessProblem& problem, int language) {
  return language == kJapanese && Named(problem) ? RemedyJa(problem.remedyKind) : problem.remedy;
}

std::string AccessProblemLine(Platform& platform, int language) {
  const std::string english = platform.AccessProblem();
  if (language != kJapanese || english.empty()) return english;
  const std::vector<NodeAccessProblem> problems = platform.AccessProblems();
  if (problems.empty() || !std::all_of(problems.begin(), problems.end(), Named)) return english;
  // As the English line: the kernel's refusal of vendor commands first (it is
  // what kept the command from the drive), then the first node that did not
  // open before it.
  const auto filtered = std::find_if(problems.begin(), problems.end(), [](const NodeAccessProblem& p) {
    return p.reasonKind == AccessReason::VendorCommandsFiltered;
  });
  const auto unopened = std::find_if(problems.begin(), problems.end(), [](const NodeAccessProblem& p) {
    return p.reasonKind != AccessReason::VendorCommandsFiltered;
  });
  if (filtered == problems.end()) return CannotOpenJa(*unopened);
  const std::string refusal = "CAP_SYS_RAWIO がないため、カーネルが " + filtered->node + " へのベンダーコマンドを受け付けません";
  // A node that failed to open after the refusal was met is not in the line.
  if (unopened == problems.end() || unopened > filtered) return refusal + "。" + RemedyJa(filtered->remedyKind);
  return refusal + "。また、" + CannotOpenJa(*unopened);
}

std::string AwakeGapText(const AttemptHold& hold, int language) {
  if (language != kJapanese) return hold.whyNot;
  switch (hold.gap) {
    case AwakeGap::NoLogindLock:
      // The system's own account of the failure stays as it came.
      return "logind からロックを得られませんでした: " + hold.whyNot;
    case AwakeGap::SimulatedNoLogind:
      return "シミュレートされたマシンには、スリープを防ぐ logind がありません";
    case AwakeGap::WindowsIdleOnly:
      return "アイドル時のスリープは防げますが、求められたサスペンドやシャットダウンは防げません";
    case AwakeGap::WindowsCannotAsk:
      return "SetThreadExecutionState が使えないため、この Windows にはスリープしないよう求められません";
    case AwakeGap::Unnamed:
      break;
  }
  return hold.whyNot;
}

}  // namespace orvel
