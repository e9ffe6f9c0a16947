#include <filesystem>
#include <optional>

#include "app/program_options.h"
#include "tests/app/app_fixture.h"

namespace orvel::testing {
namespace {

constexpr const char* kCw7240 = "CW724132.KVF";
constexpr const char* kCr4120 = "CR412304.BIN";

struct RunResult {
  int page = NoPage;
  std::vector<std::vector<std::uint8_t>> commands;  // every CDB in order
  std::set<std::string> files;
};

class VariantsTest : public AppTest {
 protected:
  RunResult UpdateWith(const Variant& variant, const std::string& scenario, int drive, const std::string& file,
                       bool backup) {
    MakeMachine(scenario);
    Start(variant);
    Choose(drive, file);
    if (backup) W().Click(kIdBackupCheck);
    NextAndStart();
    RunResult r;
    r.page = dlg_->page;
    for (const auto& e : machine_->GetTrace().Entries()) {
      r.commands.emplace_back(e.cdb.begin(), e.cdb.begin() + e.cdbLength);
    }
    r.files = FilesInDir();
    return r;
  }
};

TEST_F(VariantsTest, BothProgramsSendTheSameCommands) {
  WriteSamples();
  const RunResult orvel = UpdateWith(kOrvelVariant, "default", 0, kCw7240, true);
  std::filesystem::remove(std::filesystem::path(dir_) / "CDRWFW00.KVF");
  dlg_.reset();
  const RunResult orvelin = UpdateWith(kOrvelinVariant, "default", 0, kCw7240, true);
  EXPECT_EQ(orvel.page, Completed);
  EXPECT_EQ(orvelin.page, Completed);
  EXPECT_GT(orvel.commands.size(), 10u);
  EXPECT_EQ(orvel.commands, orvelin.commands);
  EXPECT_EQ(orvel.files, orvelin.files);
}

TEST_F(VariantsTest, AspiDriveIsAddressedByTheEntryItWasListedUnder) {
  WriteSamples();
  const RunResult r = UpdateWith(kOrvelinVariant, "aspi", 2, kCr4120, false);
  EXPECT_EQ(r.page, Completed);
  bool sawVendorCommand = false;
  for (const auto& e : machine_->GetTrace().Entries()) {
    if (e.opcode() < 0xE0) continue;
    sawVendorCommand = true;
    EXPECT_EQ(e.drive, 2);
    EXPECT_EQ(e.adapter, 0);
    EXPECT_EQ(e.target, 2);
  }
  EXPECT_TRUE(sawVendorCommand);
  auto flash = machine_->Drive(2).Flash();
  EXPECT_EQ(std::vector<std::uint8_t>(flash.begin(), flash.end()), sim::SampleImage(2));
}

TEST_F(VariantsTest, SourceFileGoneBeforeStartShowsTheFileError) {
  WriteSamples();
  MakeMachine("default");
  Start();
  Choose(0, kCw7240);
  std::filesystem::remove(std::filesystem::path(dir_) / kCw7240);
  ws_.ClearMessageBoxes();
  NextAndStart();
  ASSERT_EQ(ws_.MessageBoxes().size(), 1u);
  // The framework's text, although English is the language in force.
  EXPECT_EQ(ws_.MessageBoxes()[0].text, "CW724132.KVF が見つかりませんでした。");
  EXPECT_EQ(ws_.MessageBoxes()[0].icon, ui::MessageBoxIcon::Exclamation);
  // Found out before the drive heard anything: refused as a wrong selection is.
  EXPECT_EQ(dlg_->page, TypeCodeMismatch);
  EXPECT_EQ(VendorCommandsTo(0), 0u);
  EXPECT_TRUE(W().IsEnabled(kIdBackButton));
}

TEST_F(VariantsTest, EveryRefreshRepaintsAtOnceAndKeepsTheProgress) {
  WriteSamples();
  MakeMachine("rewrite-fails");
  Start();
  Choose(0, kCw7240);
  int repaints = W().UpdateWindowCount();
  ASSERT_TRUE(W().Click(kIdJapaneseRadio));
  EXPECT_EQ(W().UpdateWindowCount(), repaints + 1);
  repaints = W().UpdateWindowCount();
  ASSERT_TRUE(W().Click(kIdNextButton));
  EXPECT_EQ(W().UpdateWindowCount(), repaints + 1);
  ASSERT_TRUE(W().Click(kIdNextButton));
  ASSERT_EQ(dlg_->page, Failed);
  const int progress = W().ProgressPosition(kIdProgressBar);
  EXPECT_GT(progress, 0);
  ASSERT_TRUE(W().Click(kIdBackButton));
  EXPECT_EQ(W().ProgressPosition(kIdProgressBar), progress);  // page changes leave the bar alone
}

TEST(ProgramOptions, AcceptsOnlyItsOwnOptions) {
  ProgramOptions o;
  std::string error;
  ASSERT_EQ(ParseProgramOptions({}, &o, &error), 1);
  EXPECT_FALSE(o.simulate);
  EXPECT_FALSE(o.help);
  ASSERT_EQ(ParseProgramOptions({"--simulate"}, &o, &error), 1);
  EXPECT_TRUE(o.simulate);
  EXPECT_EQ(o.scenario, "default");
  ASSERT_EQ(ParseProgramOptions({"--simulate=rewrite-fails,fault=e2:3:timeout"}, &o, &error), 1);
  EXPECT_EQ(o.scenario, "rewrite-fails,fault=e2:3:timeout");
  ASSERT_EQ(ParseProgramOptions({"--version", "--help"}, &o, &error), 1);
  EXPECT_TRUE(o.version);
  EXPECT_TRUE(o.help);
  ASSERT_EQ(ParseProgramOptions({"--screenshot=first.png", "--simulate"}, &o, &error), 1);
  EXPECT_EQ(o.screenshot, "first.png");
  EXPECT_EQ(ParseProgramOptions({"--screenshot="}, &o, &error), 0);
  // Qt's own options are taken by QApplication first; left over they are unknown.
  EXPECT_EQ(ParseProgramOptions({"-platform", "offscreen"}, &o, &error), 0);

  o = ProgramOptions{};
  EXPECT_EQ(ParseProgramOptions({"--simulate", "--drive=0"}, &o, &error), 0);
  EXPECT_NE(error.find("--drive=0"), std::string::npos);
  EXPECT_FALSE(o.simulate);  // nothing taken from a rejected command line
  EXPECT_EQ(ParseProgramOptions({"--simulate="}, &o, &error), 0);
  EXPECT_EQ(ParseProgramOptions({"firmware.bin"}, &o, &error), 0);
  EXPECT_NE(ProgramUsage("orvelin").find("orvelin [--simulate[=SCENARIO]]"), std::string::npos);

  ASSERT_EQ(ParseProgramOptions({"-C", "/srv/firmware", "--simulate"}, &o, &error), 1);
  EXPECT_EQ(o.directory, "/srv/firmware");
  EXPECT_TRUE(o.simulate);
  ASSERT_EQ(ParseProgramOptions({"--downloads"}, &o, &error), 1);
  EXPECT_TRUE(o.downloads);
  EXPECT_TRUE(o.directory.empty());
  o = ProgramOptions{};
  EXPECT_EQ(ParseProgramOptions({"-C"}, &o, &error), 0);
  EXPECT_EQ(ParseProgramOptions({"-C", ""}, &o, &error), 0);
  EXPECT_EQ(ParseProgramOptions({"-C", "/tmp", "--downloads"}, &o, &error), 0);
  EXPECT_NE(error.find("--downloads"), std::string::npos);
  EXPECT_TRUE(o.directory.empty());

  // The Windows programs have no desktop download folder and no screenshot writer.
  constexpr ProgramFlavour kWindows = ProgramFlavour::Windows;
  ASSERT_EQ(ParseProgramOptions({"--simulate=default,hold=erase", "-C", "C:\\fw"}, &o, &error, kWindows), 1);
  EXPECT_EQ(o.scenario, "default,hold=erase");
  EXPECT_EQ(o.directory, "C:\\fw");
  EXPECT_EQ(ParseProgramOptions({"--downloads"}, &o, &error, kWindows), 0);
  EXPECT_NE(error.find("--downloads"), std::string::npos);
  EXPECT_EQ(ParseProgramOptions({"--screenshot=a.png"}, &o, &error, kWindows), 0);
  const std::string usage = ProgramUsage("Orvel", kWindows);
  EXPECT_NE(usage.find("Orvel [--simulate[=SCENARIO]] [-C DIR] [--help] [--version]"), std::string::npos);
  EXPECT_EQ(usage.find("--downloads"), std::string::npos);
  EXPECT_EQ(usage.find("Qt"), std::string::npos);
}

}  // namespace
}  // namespace orvel::testing
