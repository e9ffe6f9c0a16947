// The GUI programs as started from a shell: with and without a display, with
// Qt's own options, and --screenshot on the offscreen platform.

#include <sys/wait.h>

#include <QImage>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>

namespace orvel {
namespace {

struct Outcome {
  int status = -1;
  std::string output;  // standard output and error
};

// Runs `command` with no display in its environment (and no platform chosen),
// in directory `dir`, as a shell would.
Outcome RunWithoutDisplay(const std::string& dir, const std::string& command) {
  const std::string line =
      "cd '" + dir + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + command + " 2>&1";
  Outcome outcome;
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) return outcome;
  std::array<char, 256> chunk{};
  while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr) outcome.output += chunk.data();
  const int raw = pclose(pipe);
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return outcome;
}

struct ProgramCase {
  const char* name;
  const char* path;
  const char* title;
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

class ProgramTest : public ::testing::TestWithParam<ProgramCase> {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvel-program-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  Outcome Run(const std::string& args) { return RunWithoutDisplay(dir_, std::string(GetParam().path) + " " + args); }
  std::string dir_;
};

TEST_P(ProgramTest, WithoutADisplaySaysSoInOneLineAndEnds) {
  const Outcome none = Run("--simulate");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.output, std::string(GetParam().name) +
                             ": no display found (DISPLAY or WAYLAND_DISPLAY); orvel-cli works without one\n");

  const Outcome version = Run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, std::string(GetParam().title) + " " + ORVEL_VERSION_TEXT + "\n");
  const Outcome help = Run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find(std::string("Usage: ") + GetParam().name), std::string::npos);
}

TEST_P(ProgramTest, TakesQtsOptionsAndWritesTheFirstPageAsAScreenshot) {
  const Outcome platform = Run("-platform offscreen --simulate --screenshot=first.png");
  EXPECT_EQ(platform.status, 0) << platform.output;
  const QImage shot(QString::fromStdString(dir_ + "/first.png"));
  EXPECT_GT(shot.width(), 300);
  EXPECT_GT(shot.height(), 300);

  const Outcome styled = Run("-style fusion -platform offscreen --simulate --screenshot=second.png --help");
  EXPECT_EQ(styled.status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/second.png"));  // help, then nothing else

  const Outcome unknown = Run("-platform offscreen --unknown");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.output.find("unknown option '--unknown'"), std::string::npos);
  const Outcome unwritable = Run("-platform offscreen --simulate --screenshot=no/such/dir/x.png");
  EXPECT_EQ(unwritable.status, 3);

  // The simulated machine kept between runs, as for orvel-cli; another scenario's is refused.
  const Outcome kept = Run("-platform offscreen --simulate=default,state=kept --screenshot=third.png");
  EXPECT_EQ(kept.status, 0) << kept.output;
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/kept/machine.json"));
  const Outcome other = Run("-platform offscreen --simulate=aspi,state=kept --screenshot=fourth.png");
  EXPECT_EQ(other.status, 2);  // a usage error, as a bad scenario text
  EXPECT_NE(other.output.find("kept"), std::string::npos) << other.output;
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/fourth.png"));
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramTest,
                         ::testing::Values(ProgramCase{"orvel", ORVEL_PROGRAM_ORVEL, "Orvel"},
                                           ProgramCase{"orvelin", ORVEL_PROGRAM_ORVELIN, "Orvelin"}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace orvel
