// The download folder of a launch from a Linux desktop's menu (the Windows
// programs neither have nor link it).
#ifndef _WIN32

#include <filesystem>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

#include "app/download_directory.h"
#include "tests/support/scratch_dir.h"

namespace orvel::testing {
namespace {

// A menu launch works in the download folder the user-dirs file names.
class DownloadDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = orvel::testing::MakeScratchDir("orvel-home");
    ASSERT_FALSE(home_.empty());
    std::filesystem::create_directories(home_ / ".config");
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }
  void WriteUserDirs(const std::filesystem::path& configDir, const std::string& text) {
    std::filesystem::create_directories(configDir);
    std::ofstream(configDir / "user-dirs.dirs") << text;
  }
  std::string Resolve(std::optional<std::string> configHome = std::nullopt, bool withHome = true) {
    const std::string home = home_.string();
    return DownloadDirectory([&](std::string_view name) -> std::optional<std::string> {
      if (name == "HOME" && withHome) return home;
      if (name == "XDG_CONFIG_HOME") return configHome;
      return std::nullopt;
    });
  }
  std::filesystem::path home_;
};

TEST_F(DownloadDirectoryTest, FollowsTheUserDirsFileAndFallsBackToHome) {
  const std::string home = home_.string();
  EXPECT_EQ(Resolve(), home);  // no user-dirs file
  EXPECT_EQ(Resolve(std::nullopt, false), ".");

  std::filesystem::create_directories(home_ / "ダウンロード");
  WriteUserDirs(home_ / ".config",
                "# written by xdg-user-dirs-update\n"
                "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                "XDG_DOWNLOAD_DIR=\"$HOME/ダウンロード\"\n");
  EXPECT_EQ(Resolve(), home + "/ダウンロード");

  // Named but missing: the home folder, never a directory that does not open.
  WriteUserDirs(home_ / ".config", "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
  EXPECT_EQ(Resolve(), home);
  // An absolute path; the last of two entries counts; unquoted or relative values do not.
  WriteUserDirs(home_ / ".config", "XDG_DOWNLOAD_DIR=\"$HOME/none\"\nXDG_DOWNLOAD_DIR=\"" + home +
                                       "/ダウンロード\"\n");
  EXPECT_EQ(Resolve(), home + "/ダウンロード");
  WriteUserDirs(home_ / ".config", "XDG_DOWNLOAD_DIR=$HOME/ダウンロード\nXDG_DOWNLOAD_DIR=\"ダウンロード\"\n");
  EXPECT_EQ(Resolve(), home);

  // XDG_CONFIG_HOME moves the file; an empty value does not.
  std::filesystem::create_directories(home_ / "dl");
  WriteUserDirs(home_ / "cfg", "XDG_DOWNLOAD_DIR=\"$HOME/dl\"\n");
  EXPECT_EQ(Resolve(home + "/cfg"), home + "/dl");
  EXPECT_EQ(Resolve(std::string()), home);
}

}  // namespace
}  // namespace orvel::testing

#endif  // _WIN32
