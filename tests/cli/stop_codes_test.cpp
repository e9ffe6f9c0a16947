// The fixed set of stop codes: one table, which the README lists row for row,
// the shipped JSON Schema names in the same order and the man page by exit status.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

#include "cli/cli.h"
#include "cli/stop_codes.h"

namespace orvel::testing {
namespace {

std::string ExitColumn(int status) { return status == kNoExitStatus ? "—" : std::to_string(status); }

TEST(StopCodes, ReadmeTableListsExactlyTheCodes) {
  std::ifstream readme(std::string(ORVEL_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(readme.is_open());
  constexpr std::string_view kHeader = "| code | exit status | meaning |";
  std::string line;
  while (std::getline(readme, line) && line != kHeader) {
  }
  ASSERT_EQ(line, kHeader) << "README.md has no stop code table";
  std::getline(readme, line);  // |---|---|---|
  std::string table;
  while (std::getline(readme, line) && line.starts_with("|")) table += line + "\n";

  std::string expected;
  for (const StopCodeRow& row : StopCodes()) {
    expected += "| `" + std::string(row.code) + "` | " + ExitColumn(row.exitStatus) + " | " +
                std::string(row.meaning) + " |\n";
  }
  EXPECT_EQ(table, expected) << "README.md's stop code rows should read:\n" << expected;
}

TEST(StopCodes, TheSchemaNamesTheSameCodesAndVersion) {
  std::ifstream file(std::string(ORVEL_SOURCE_DIR) + "/dist/orvel-cli.schema.json");
  ASSERT_TRUE(file.is_open());
  const nlohmann::json schema = nlohmann::json::parse(file, nullptr, false);
  ASSERT_FALSE(schema.is_discarded());
  std::vector<std::string> codes;
  for (const StopCodeRow& row : StopCodes()) codes.emplace_back(row.code);
  EXPECT_EQ(schema["definitions"]["code"]["enum"].get<std::vector<std::string>>(), codes);
  EXPECT_EQ(schema["properties"]["schemaVersion"]["const"], kJsonSchemaVersion);
}

// The man page lists the codes by exit status: "*N*" and the codes indented below it.
TEST(StopCodes, TheManPageListsEveryCodeUnderItsExitStatus) {
  std::ifstream page(std::string(ORVEL_SOURCE_DIR) + "/dist/man/orvel-cli.1.scd.in");
  ASSERT_TRUE(page.is_open());
  std::string line;
  while (std::getline(page, line) && line != "The codes, by exit status:") {
  }
  ASSERT_EQ(line, "The codes, by exit status:") << "the man page has no list of codes";
  std::map<int, std::set<std::string>> listed;
  int status = -1;
  while (std::getline(page, line) && !line.starts_with("The code ")) {
    if (line.size() == 3 && line.front() == '*' && line.back() == '*') {
      status = line[1] - '0';
    } else if (line.starts_with("\t")) {
      std::istringstream words(line);
      std::string word;
      while (words >> word) {
        if (word.ends_with(',')) word.pop_back();
        listed[status].insert(word);
      }
    }
  }
  std::map<int, std::set<std::string>> expected;
  for (const StopCodeRow& row : StopCodes()) {
    if (row.exitStatus != kNoExitStatus) expected[row.exitStatus].insert(std::string(row.code));
  }
  EXPECT_EQ(listed, expected);
}

TEST(StopCodes, EveryCodeIsDistinctAndEveryAttemptStopHasOne) {
  std::set<std::string_view> seen;
  for (const StopCodeRow& row : StopCodes()) {
    EXPECT_TRUE(seen.insert(row.code).second) << "twice: " << row.code;
    EXPECT_FALSE(row.meaning.empty()) << row.code;
    EXPECT_TRUE(row.exitStatus == kNoExitStatus || (row.exitStatus > kExitOk && row.exitStatus <= kExitFirmwareDiffers))
        << row.code;
    EXPECT_EQ(&RowOf(row.stop), &row) << row.code;
  }
  EXPECT_FALSE(StopOfAttempt(AttemptStop::None, std::nullopt).has_value());
  for (int s = static_cast<int>(AttemptStop::None) + 1; s <= static_cast<int>(AttemptStop::ImageNotForDrive); ++s) {
    EXPECT_TRUE(StopOfAttempt(static_cast<AttemptStop>(s), std::nullopt).has_value()) << s;
  }
  // A drive that could not be held: each reason its own code, all with the
  // status of no update mode but the system's refusal, which is no access.
  std::set<StopCode> claims;
  for (const DeviceClaimResult claim : {DeviceClaimResult::NotListed, DeviceClaimResult::Changed,
                                        DeviceClaimResult::NotOptical, DeviceClaimResult::Mounted,
                                        DeviceClaimResult::InUse, DeviceClaimResult::NoAccess}) {
    const std::optional<StopCode> stop = StopOfAttempt(AttemptStop::DriveNotHeld, claim);
    ASSERT_TRUE(stop.has_value());
    EXPECT_TRUE(claims.insert(*stop).second) << DriveClaimName(claim);
    EXPECT_EQ(RowOf(*stop).exitStatus, claim == DeviceClaimResult::NoAccess ? kExitNotAccessible : kExitNoUpdateMode)
        << DriveClaimName(claim);
  }
}

// Update-mode requests the system kept from the drive: a switch that failed
// for it is the drive out of reach (exit 7); a stop after a switch is not.
TEST(StopCodes, AnUnreachableDriveIsNotAccessible) {
  struct Case {
    AttemptStop stop;
    bool unreachable;
    StopCode expected;
  };
  const Case cases[] = {
      {AttemptStop::UpdateModeRefused, true, StopCode::DriveUnreachable},
      {AttemptStop::NotALoader, true, StopCode::DriveUnreachable},
      {AttemptStop::DriveTypeUnknown, true, StopCode::DriveUnreachable},
      {AttemptStop::IdBlockReadShort, true, StopCode::DriveUnreachable},
      {AttemptStop::UpdateModeRefused, false, StopCode::UpdateModeRefused},
      {AttemptStop::NotALoader, false, StopCode::NotALoader},
      {AttemptStop::ChunkFailed, true, StopCode::ChunkFailed},
      {AttemptStop::BackupNamesTaken, true, StopCode::BackupNamesTaken},
      // A comparison the drive or the file did not allow.
      {AttemptStop::ReadBackNotPossible, false, StopCode::BackupNotPossible},
      {AttemptStop::ImageNotForDrive, true, StopCode::FileNotForDrive},
  };
  for (const Case& c : cases) {
    AttemptReport report;
    report.stop = c.stop;
    report.driveUnreachable = c.unreachable;
    EXPECT_EQ(StopOfReport(report), c.expected) << RowOf(c.expected).code;
  }
  EXPECT_EQ(RowOf(StopCode::DriveUnreachable).exitStatus, kExitNotAccessible);
  AttemptReport held;
  held.stop = AttemptStop::DriveNotHeld;
  held.driveClaim = DeviceClaimResult::InUse;
  EXPECT_EQ(StopOfReport(held), StopCode::DriveInUse);
  EXPECT_FALSE(StopOfReport(AttemptReport{}).has_value());
}

}  // namespace
}  // namespace orvel::testing
