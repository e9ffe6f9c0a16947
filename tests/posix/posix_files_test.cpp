#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pwd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

class PosixFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("orvel_files_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::create_directories(dir_);
    files_ = MakeNativeFileSystem(dir_.string());
  }
  void TearDown() override {
    files_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(dir_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<std::uint8_t> ReadFile(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
  std::unique_ptr<FileSystem> files_;
};

TEST_F(PosixFilesTest, ReadsRelativeToItsOwnDirectory) {
  const std::vector<std::uint8_t> bytes{1, 2, 3, 4, 5, 6, 7};
  WriteFile("fw.bin", bytes);
  FileError err = FileError::Io;
  const FileHandle h = files_->OpenRead("fw.bin", &err);
  ASSERT_NE(h, kNoFile);
  EXPECT_EQ(err, FileError::None);
  EXPECT_EQ(files_->Length(h), 7);

  std::vector<std::uint8_t> out(4, 0);
  EXPECT_EQ(files_->ReadAt(h, 2, out), 4);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{3, 4, 5, 6}));
  // A read running past the end delivers what is there; one beyond it nothing.
  EXPECT_EQ(files_->ReadAt(h, 5, out), 2);
  EXPECT_EQ(out[0], 6);
  EXPECT_EQ(out[1], 7);
  EXPECT_EQ(files_->ReadAt(h, 100, out), 0);
  files_->Close(h);
  EXPECT_EQ(files_->Length(h), -1);
  EXPECT_EQ(files_->ReadAt(h, 0, out), -1);
}

TEST_F(PosixFilesTest, OpenReadReportsWhyItFailed) {
  FileError err = FileError::None;
  EXPECT_EQ(files_->OpenRead("missing.kvf", &err), kNoFile);
  EXPECT_EQ(err, FileError::NotFound);

  fs::create_directory(dir_ / "sub.bin");
  EXPECT_EQ(files_->OpenRead("sub.bin", &err), kNoFile);
  EXPECT_EQ(err, FileError::NotRegular);

  ASSERT_EQ(::mkfifo((dir_ / "pipe.bin").c_str(), 0600), 0);
  EXPECT_EQ(files_->OpenRead("pipe.bin", &err), kNoFile);
  EXPECT_EQ(err, FileError::NotRegular);

  EXPECT_EQ(files_->OpenRead("", &err), kNoFile);
  EXPECT_EQ(err, FileError::NotFound);

  if (::geteuid() != 0) {  // root reads anything
    WriteFile("locked.bin", {1});
    fs::permissions(dir_ / "locked.bin", fs::perms::none);
    EXPECT_EQ(files_->OpenRead("locked.bin", &err), kNoFile);
    EXPECT_EQ(err, FileError::AccessDenied);
  }
}

TEST_F(PosixFilesTest, CreateExclusiveWritesSyncsAndNeverReplaces) {
  FileError err = FileError::Io;
  const FileHandle h = files_->CreateExclusive("CDRWFW00.BIN", &err);
  ASSERT_NE(h, kNoFile);
  std::vector<std::uint8_t> data(200000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_TRUE(files_->WriteAll(h, std::span(data).first(1000), &err));
  EXPECT_TRUE(files_->WriteAll(h, std::span(data).subspan(1000), &err));
  EXPECT_TRUE(files_->SyncAndClose(h, &err));
  EXPECT_EQ(err, FileError::None);
  EXPECT_EQ(ReadFile("CDRWFW00.BIN"), data);
  // The handle is gone after SyncAndClose.
  EXPECT_FALSE(files_->SyncAndClose(h, &err));

  EXPECT_EQ(files_->CreateExclusive("CDRWFW00.BIN", &err), kNoFile);
  EXPECT_EQ(err, FileError::Exists);
  EXPECT_EQ(ReadFile("CDRWFW00.BIN"), data);

  fs::create_directory(dir_ / "CDRWFW01.BIN");
  EXPECT_EQ(files_->CreateExclusive("CDRWFW01.BIN", &err), kNoFile);
  EXPECT_EQ(err, FileError::Exists);
}

TEST_F(PosixFilesTest, CreateExclusiveDoesNotFollowLinks) {
  const fs::path target = dir_ / "victim";
  fs::create_symlink(target, dir_ / "CDRWFW02.KVF");  // dangling
  FileError err = FileError::None;
  EXPECT_EQ(files_->CreateExclusive("CDRWFW02.KVF", &err), kNoFile);
  EXPECT_EQ(err, FileError::Exists);
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(PosixFilesTest, ReservedRoomIsGivenBackAfterTheLastByteWritten) {
  FileError err = FileError::Io;
  const FileHandle h = files_->CreateExclusive("CDRWFW00.TMP", &err);
  ASSERT_NE(h, kNoFile);
  ASSERT_TRUE(files_->Reserve(h, 1 << 20, &err));
  EXPECT_EQ(fs::file_size(dir_ / "CDRWFW00.TMP"), 1u << 20) << "allocated before anything is written";
  const std::vector<std::uint8_t> data(3000, 0xA5);
  EXPECT_TRUE(files_->WriteAll(h, data, &err));
  EXPECT_TRUE(files_->SyncAndClose(h, &err));
  EXPECT_EQ(ReadFile("CDRWFW00.TMP"), data);
  EXPECT_TRUE(files_->SyncDirectory(&err));
}

// A directory the user may neither read nor search: every name in it is
// "permission denied", never an input/output error. Run in a child as an
// ordinary user when the tests run as root, who may search anything.
TEST_F(PosixFilesTest, DirectoryWithoutSearchPermissionIsPermissionDenied) {
  const fs::path locked = dir_ / "locked";
  fs::create_directory(locked);
  std::ofstream(locked / "fw.bin") << "x";
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_write);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      if (nobody == nullptr || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(2);
    }
    const auto in = MakeNativeFileSystem(locked.string());
    FileError err = FileError::None;
    const bool refused = in->OpenRead("fw.bin", &err) == kNoFile && err == FileError::AccessDenied &&
                         in->CreateExclusive("CDRWFW00.TMP", &err) == kNoFile && err == FileError::AccessDenied &&
                         std::string(FileErrorText(err)) == "permission denied" && in->Exists("CDRWFW00.BIN");
    ::_exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  fs::permissions(locked, fs::perms::owner_all);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 2) << "no ordinary user to test as";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a name in the unsearchable directory was not \"permission denied\"";
}

TEST_F(PosixFilesTest, HandlesItDidNotOpenAreRefused) {
  FileError err = FileError::None;
  // Standard output must not be written or closed through the file system.
  EXPECT_FALSE(files_->WriteAll(STDOUT_FILENO, std::vector<std::uint8_t>{1}, &err));
  EXPECT_EQ(err, FileError::Io);
  EXPECT_FALSE(files_->SyncAndClose(STDOUT_FILENO, &err));
  files_->Close(STDOUT_FILENO);
  EXPECT_NE(::fcntl(STDOUT_FILENO, F_GETFD), -1);
}

TEST_F(PosixFilesTest, RemoveDeletesOnlyWhatExists) {
  WriteFile("old.bin", {1, 2});
  EXPECT_TRUE(files_->Remove("old.bin"));
  EXPECT_FALSE(fs::exists(dir_ / "old.bin"));
  EXPECT_FALSE(files_->Remove("old.bin"));
  EXPECT_FALSE(files_->Remove(""));
}

TEST_F(PosixFilesTest, ListsRegularFilesMatchingWithoutCase) {
  WriteFile("a.kvf", {1});
  WriteFile("B.KVF", {1});
  WriteFile("c.Kvf", {1});
  WriteFile("d.bin", {1});
  WriteFile("e.kvf.bak", {1});
  fs::create_directory(dir_ / "dir.kvf");
  fs::create_directory_symlink(dir_ / "dir.kvf", dir_ / "linkdir.kvf");
  fs::create_symlink(dir_ / "a.kvf", dir_ / "linkfile.kvf");
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling.kvf");

  auto names = files_->ListRegularFiles("*.kvf");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"B.KVF", "a.kvf", "c.Kvf", "linkfile.kvf"}));
  EXPECT_EQ(files_->ListRegularFiles("*.BIN"), (std::vector<std::string>{"d.bin"}));
  EXPECT_TRUE(files_->ListRegularFiles("*.none").empty());
}

TEST_F(PosixFilesTest, MissingWorkingDirectoryFailsEveryOperation) {
  auto none = MakeNativeFileSystem((dir_ / "absent").string());
  FileError err = FileError::None;
  EXPECT_EQ(none->OpenRead("x.bin", &err), kNoFile);
  EXPECT_NE(err, FileError::None);
  EXPECT_EQ(none->CreateExclusive("x.bin", &err), kNoFile);
  EXPECT_TRUE(none->ListRegularFiles("*").empty());
  EXPECT_FALSE(fs::exists(dir_ / "x.bin"));
}

}  // namespace
}  // namespace orvel
