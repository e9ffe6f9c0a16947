// The Windows backend on the NT family through the real calls: device names,
// the pass-through's failure paths, and the working directory's files.
// The test prefix (tools/wine-prefix.sh) has no \\.\cdromN; its drive E: is a
// plain folder, whose \\.\e: opens but takes no pass-through. Links and
// full or read-only folders come from tests/win32/run_platform_tests.sh,
// which names them in ORVEL_* variables (Windows cannot be asked to make them
// under Wine); without them those cases skip. An attempt holds the console's
// Ctrl-C and Ctrl-Break.

#include "platform/win32/windows_shim.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "tests/support/scratch_dir.h"
#include "transport/scsi_transport.h"

namespace orvel {
namespace {

constexpr std::uint8_t kUnmappedLetterNumber = 5;  // \\.\i:
constexpr std::uint8_t kFolderDriveNumber = 1;     // \\.\e:
constexpr std::uint8_t kStaleAsc = 0x55;
constexpr std::uint8_t kOpTestUnitReady = 0x00;

std::string EnvOr(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

TEST(Win32Platform, WineReportsTheNtFamily) { EXPECT_EQ(Win32Platform(".").PlatformId(), kPlatformNt); }

// A console control event as the system delivers it: a new thread of the
// process starting at kernel32's CtrlRoutine, which runs the handlers (and,
// when none takes the event, ends the process as Ctrl-C does).
void DeliverConsoleEvent(DWORD event) {
  const HMODULE kernel = ::GetModuleHandleA("KERNEL32.DLL");
  ASSERT_NE(kernel, nullptr);
  const FARPROC routine = ::GetProcAddress(kernel, "CtrlRoutine");
  ASSERT_NE(routine, nullptr) << "this system's kernel32 does not export CtrlRoutine";
  const auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(routine));
  const HANDLE thread =
      ::CreateThread(nullptr, 0, start, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(event)), 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ::WaitForSingleObject(thread, INFINITE);  // the handlers have returned
  ::CloseHandle(thread);
}

// Standard error while it lives, as a pipe whose contents can be read.
class CapturedError {
 public:
  CapturedError() {
    if (::CreatePipe(&read_, &write_, nullptr, 0) == 0) return;
    saved_ = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetStdHandle(STD_ERROR_HANDLE, write_);
  }
  ~CapturedError() {
    if (write_ == nullptr) return;
    ::SetStdHandle(STD_ERROR_HANDLE, saved_);
    ::CloseHandle(read_);
    ::CloseHandle(write_);
  }
  CapturedError(const CapturedError&) = delete;
  CapturedError& operator=(const CapturedError&) = delete;
  bool Ready() const { return write_ != nullptr; }
  // Everything written so far (never waits).
  std::string Take() {
    std::string said;
    DWORD available = 0;
    while (::PeekNamedPipe(read_, nullptr, 0, nullptr, &available, nullptr) != 0 && available > 0) {
      std::array<char, 256> chunk{};
      DWORD n = 0;
      if (::ReadFile(read_, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr) == 0 || n == 0) break;
      said.append(chunk.data(), n);
    }
    return said;
  }

 private:
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
  HANDLE saved_ = nullptr;
};

// Ctrl-C and Ctrl-Break during an attempt are taken (the process goes on),
// told once per attempt on standard error, and handed back when it ends: the
// first one held. The machine is kept from sleeping when idle only, and the
// hold says so.
TEST(Win32Attempt, CtrlCAndCtrlBreakAreHeldUntilTheAttemptEnds) {
  CapturedError err;
  ASSERT_TRUE(err.Ready());
  SetInterruptionNotice("held\n");
  Win32Platform platform(".");

  const AttemptHold hold = platform.BeginAttempt();
  EXPECT_FALSE(hold.machineKeptAwake);
  EXPECT_EQ(hold.whyNot, "Windows is kept from sleeping when idle, but a suspend or shutdown asked for is not held off");
  DeliverConsoleEvent(CTRL_C_EVENT);
  EXPECT_EQ(err.Take(), "held\n");
  DeliverConsoleEvent(CTRL_BREAK_EVENT);
  EXPECT_EQ(err.Take(), "");  // said once
  const Interruption held = platform.EndAttempt();
  EXPECT_NE(held, 0);
  EXPECT_EQ(platform.EndAttempt(), 0);  // ended already

  // The next attempt starts with nothing held, and tells again.
  platform.BeginAttempt();
  EXPECT_EQ(err.Take(), "");
  DeliverConsoleEvent(CTRL_BREAK_EVENT);
  EXPECT_EQ(err.Take(), "held\n");
  const Interruption breakHeld = platform.EndAttempt();
  EXPECT_NE(breakHeld, 0);
  EXPECT_NE(breakHeld, held);  // the first one of each attempt: Ctrl-C, then Ctrl-Break

  // An attempt that gets no event hands nothing back and says nothing.
  platform.BeginAttempt();
  EXPECT_EQ(platform.EndAttempt(), 0);
  EXPECT_EQ(err.Take(), "");
  SetInterruptionNotice("");
}

TEST(Win32Platform, DeviceNamesOfBothModes) {
  Win32Platform platform(".");
  struct Row {
    TransportMode mode;
    std::uint8_t number;
    const char* name;
  };
  for (const Row& row : {Row{TransportMode::CdromDevice, 0, "\\\\.\\cdrom0"}, Row{TransportMode::CdromDevice, 9, "\\\\.\\cdrom9"},
                         Row{TransportMode::DriveLetter, 0, "\\\\.\\d:"}, Row{TransportMode::DriveLetter, 3, "\\\\.\\g:"},
                         Row{TransportMode::DriveLetter, 9, "\\\\.\\m:"}}) {
    EXPECT_EQ(platform.DeviceName(row.mode, row.number), row.name);
  }
}

class PassThroughTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TransportMessage message;
    ASSERT_TRUE(transport.SelectTransport(&message)) << message.text;
    transport.Request().cdb = {kOpTestUnitReady};
    transport.Request().cdbLength = 6;
    transport.Request().direction = DataNone;
  }
  Win32Platform platform{"."};
  ScsiTransport transport{platform};
};

TEST_F(PassThroughTest, NoCdromNamesMeanDriveLetters) { EXPECT_EQ(transport.mode, TransportMode::DriveLetter); }

TEST_F(PassThroughTest, ANameThatDoesNotOpenFailsWithNoSense) {
  transport.address.deviceNumber = kUnmappedLetterNumber;
  transport.lastAsc = kStaleAsc;
  EXPECT_EQ(platform.OpenDevice(platform.DeviceName(transport.mode, kUnmappedLetterNumber)), -1);
  EXPECT_EQ(transport.ExecuteCommand(0), 0);
  EXPECT_EQ(transport.lastAsc, 0);
}

TEST_F(PassThroughTest, AFailedCallIsAFailureWhateverTheBlockSays) {
  // NUL opens everywhere and takes no pass-through.
  const DeviceHandle dev = platform.OpenDevice("\\\\.\\NUL");
  ASSERT_GE(dev, 0);
  // A block that claims GOOD, as Wine leaves it when SG_IO fails: the call's FALSE decides.
  std::array<std::uint8_t, spt::kDataArea> block{};
  PutLe16(block, spt::kLength, static_cast<std::uint16_t>(spt::kHeaderSize));
  block[spt::kScsiStatus] = kStatusGood;
  block[spt::kCdbLength] = 6;
  block[spt::kDataIn] = spt::SCSI_IOCTL_DATA_UNSPECIFIED;
  PutLe32(block, spt::kDataBufferOffset, static_cast<std::uint32_t>(spt::kDataArea));
  PutLe32(block, spt::kSenseInfoOffset, static_cast<std::uint32_t>(spt::kSenseArea));
  EXPECT_EQ(platform.PassThrough(dev, block), PassThroughResult::Failed);
  platform.CloseDevice(dev);
  EXPECT_EQ(platform.PassThrough(dev, block), PassThroughResult::Failed) << "a closed handle is never used";
}

TEST_F(PassThroughTest, ADriveThatTakesNoPassThroughFailsWithNoSense) {
  const DeviceHandle dev = platform.OpenDevice(platform.DeviceName(TransportMode::DriveLetter, kFolderDriveNumber));
  if (dev < 0) GTEST_SKIP() << "\\\\.\\e: (a folder drive of the test prefix) does not open here";
  platform.CloseDevice(dev);
  transport.address.deviceNumber = kFolderDriveNumber;
  transport.lastAsc = kStaleAsc;
  EXPECT_EQ(transport.ExecuteCommand(0), 0);
  EXPECT_EQ(transport.lastAsc, 0);
}

// A claimed drive letter: one handle for the whole attempt, its volume locked
// on it (Wine locks any handle: its FSCTL_LOCK_VOLUME always succeeds), kept
// through CloseDevice and let go at the release or at the next claim. Wine
// tells every name a disk (IOCTL_STORAGE_GET_DEVICE_NUMBER), so the claim of
// its folder drive stops at the check for a CD/DVD device, and the hold is
// taken here by the claim's last step alone.
TEST(Win32Claim, ADriveLetterIsHeldWithItsVolumeLocked) {
  Win32Platform platform(".");
  const std::string folder = platform.DeviceName(TransportMode::DriveLetter, kFolderDriveNumber);
  const std::string unmapped = platform.DeviceName(TransportMode::DriveLetter, kUnmappedLetterNumber);
  const DeviceHandle probe = platform.OpenDevice(folder);
  if (probe < 0) GTEST_SKIP() << "\\\\.\\e: (a folder drive of the test prefix) does not open here";
  platform.CloseDevice(probe);
  ASSERT_EQ(platform.RememberListedDevice(folder), 1);
  ASSERT_EQ(platform.RememberListedDevice(unmapped), 1);
  EXPECT_EQ(platform.ClaimListedDevice(folder), DeviceClaimResult::NotOptical);
  EXPECT_FALSE(platform.VolumeLocked());

  ASSERT_EQ(platform.HoldDriveLetter(folder), DeviceClaimResult::Claimed);
  EXPECT_TRUE(platform.VolumeLocked());
  const DeviceHandle dev = platform.OpenDevice(folder);
  ASSERT_GE(dev, 0);
  platform.CloseDevice(dev);
  const DeviceHandle other = platform.OpenDevice("\\\\.\\NUL");
  EXPECT_NE(other, dev) << "the claim's handle stays open after CloseDevice";
  EXPECT_EQ(platform.OpenDevice(folder), dev) << "every command goes through the locking handle";
  platform.CloseDevice(other);

  platform.ReleaseListedDevice(unmapped);  // holds nothing: changes nothing
  EXPECT_TRUE(platform.VolumeLocked());
  platform.ReleaseListedDevice(folder);
  EXPECT_FALSE(platform.VolumeLocked());
  const DeviceHandle reopened = platform.OpenDevice(folder);
  ASSERT_GE(reopened, 0);
  platform.CloseDevice(reopened);
  EXPECT_EQ(platform.OpenDevice("\\\\.\\NUL"), reopened) << "released: CloseDevice closes it again";

  // A claim of another name lets the held one go first; a name that opens
  // nothing now is refused with nothing held.
  ASSERT_EQ(platform.HoldDriveLetter(folder), DeviceClaimResult::Claimed);
  EXPECT_EQ(platform.ClaimListedDevice(unmapped), DeviceClaimResult::Changed);
  EXPECT_FALSE(platform.VolumeLocked());
  EXPECT_EQ(platform.OpenDevice(unmapped), -1);

  // A \\.\cdromN name is claimed unlocked (its volume would be a second handle).
  const std::string cdrom = platform.DeviceName(TransportMode::CdromDevice, 0);
  ASSERT_EQ(platform.RememberListedDevice(cdrom), 1);
  EXPECT_EQ(platform.ClaimListedDevice(cdrom), DeviceClaimResult::Claimed);
  EXPECT_FALSE(platform.VolumeLocked());
}

// Wine never refuses the lock, so its refusals are read here: a volume that
// something has open is in use (nothing is sent); one the system cannot lock
// is used unlocked.
TEST(Win32Claim, ARefusedLockIsInUseOnlyWhenTheVolumeIsOpenElsewhere) {
  struct Row {
    DWORD error;
    DeviceClaimResult result;
  };
  for (const Row& row : {Row{ERROR_ACCESS_DENIED, DeviceClaimResult::InUse},
                         Row{ERROR_SHARING_VIOLATION, DeviceClaimResult::InUse},
                         Row{ERROR_LOCK_VIOLATION, DeviceClaimResult::InUse},
                         Row{ERROR_NOT_READY, DeviceClaimResult::Claimed},
                         Row{ERROR_INVALID_FUNCTION, DeviceClaimResult::Claimed},
                         Row{ERROR_NOT_SUPPORTED, DeviceClaimResult::Claimed},
                         Row{ERROR_INVALID_PARAMETER, DeviceClaimResult::Claimed}}) {
    EXPECT_EQ(Win32Platform::ClaimAfterRefusedLock(row.error), row.result) << row.error;
  }
}

class Win32FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = orvel::testing::MakeScratchDir("orvel-win32-files");
    ASSERT_FALSE(dir.empty());
    files = MakeWin32FileSystem(dir);
  }
  void TearDown() override {
    files.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  void Put(const std::string& name, const std::string& text) const {
    std::ofstream(std::filesystem::path(dir) / name, std::ios::binary) << text;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(std::filesystem::path(dir) / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  bool WriteNew(FileSystem& fs, const std::string& name, const std::string& text, FileError* err) const {
    const FileHandle h = fs.CreateExclusive(name, err);
    if (h == kNoFile) return false;
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    const bool written = fs.WriteAll(h, bytes, err);
    FileError closeError = FileError::None;
    return fs.SyncAndClose(h, &closeError) && written;
  }

  std::string dir;
  std::unique_ptr<FileSystem> files;
};

TEST_F(Win32FilesTest, ExclusiveCreationTakesOnlyAFreeName) {
  Put("CDRWFW00.BIN", "old");
  std::filesystem::create_directory(std::filesystem::path(dir) / "CDRWFW01.BIN");
  FileError err = FileError::None;
  EXPECT_FALSE(WriteNew(*files, "CDRWFW00.BIN", "new", &err));
  EXPECT_EQ(err, FileError::Exists);
  EXPECT_EQ(Get("CDRWFW00.BIN"), "old");
  EXPECT_FALSE(WriteNew(*files, "cdrwfw01.bin", "new", &err)) << "names differ in case only";
  EXPECT_EQ(err, FileError::Exists);
  ASSERT_TRUE(WriteNew(*files, "CDRWFW02.BIN", "backup", &err)) << FileErrorText(err);
  EXPECT_EQ(Get("CDRWFW02.BIN"), "backup");
  EXPECT_TRUE(files->Exists("CDRWFW01.BIN"));
  EXPECT_FALSE(files->Exists("CDRWFW03.BIN"));
}

TEST_F(Win32FilesTest, ReadsOnlyRegularFiles) {
  Put("A.KVF", "0123456789");
  std::filesystem::create_directory(std::filesystem::path(dir) / "D.KVF");
  struct Row {
    const char* name;
    FileError error;
  };
  for (const Row& row : {Row{"A.KVF", FileError::None}, Row{"missing.kvf", FileError::NotFound},
                         Row{"D.KVF", FileError::NotRegular}}) {
    FileError err = FileError::Io;
    const FileHandle h = files->OpenRead(row.name, &err);
    EXPECT_EQ(err, row.error) << row.name;
    if (h == kNoFile) continue;
    std::array<std::uint8_t, 4> out{};
    EXPECT_EQ(files->Length(h), 10);
    EXPECT_EQ(files->ReadAt(h, 8, out), 2);
    EXPECT_EQ(out[0], '8');
    EXPECT_EQ(files->ReadAt(h, 10, out), 0);
    files->Close(h);
  }
  // Device names open a device whatever the folder holds: never read as a file.
  for (const char* device : {"CON", "NUL.KVF", "COM1"}) {
    FileError err = FileError::None;
    EXPECT_EQ(files->OpenRead(device, &err), kNoFile) << device;
    EXPECT_NE(err, FileError::None) << device;
  }
}

TEST_F(Win32FilesTest, ListsMatchingFilesInAnyCaseButNoFolders) {
  for (const char* name : {"b.kvf", "A.BIN", "c.Kvf", "notes.txt", "x.bin.bak", "long.kvfx"}) Put(name, "data");
  std::filesystem::create_directory(std::filesystem::path(dir) / "folder.kvf");
  EXPECT_EQ(files->ListRegularFiles("*.kvf"), (std::vector<std::string>{"b.kvf", "c.Kvf"}));
  EXPECT_EQ(files->ListRegularFiles("*.bin"), (std::vector<std::string>{"A.BIN"}));
}

TEST_F(Win32FilesTest, RenameNeverReplaces) {
  Put("out.bin.part", "new");
  Put("out.bin", "old");
  FileError err = FileError::None;
  EXPECT_FALSE(files->RenameNoReplace("out.bin.part", "out.bin", &err));
  EXPECT_EQ(err, FileError::Exists);
  EXPECT_EQ(Get("out.bin"), "old");
  ASSERT_TRUE(files->RenameNoReplace("out.bin.part", "fresh.bin", &err));
  EXPECT_EQ(Get("fresh.bin"), "new");
  EXPECT_FALSE(files->Exists("out.bin.part"));
}

TEST_F(Win32FilesTest, ExclusiveCreationNeverFollowsALink) {
  const std::string linked = EnvOr("ORVEL_LINK_DIR");
  if (linked.empty()) GTEST_SKIP() << "needs links planted from outside (run_platform_tests.sh)";
  auto there = MakeWin32FileSystem(linked);
  for (const char* name : {"dangling.bin", "tofile.bin", "todir.bin"}) {
    FileError err = FileError::None;
    EXPECT_EQ(there->CreateExclusive(name, &err), kNoFile) << name;
    EXPECT_NE(err, FileError::None) << name;
  }
  // Wine shows a link to something as that thing (a dangling one it may not show at all).
  EXPECT_TRUE(there->Exists("tofile.bin"));
  EXPECT_TRUE(there->Exists("todir.bin"));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(linked) / "absent-target"));
  EXPECT_EQ(std::filesystem::file_size(std::filesystem::path(linked) / "target.txt"), 6u) << "the link's target is untouched";
}

TEST_F(Win32FilesTest, AFolderThatRefusesNewFilesSaysSo) {
  const std::string locked = EnvOr("ORVEL_LOCKED_DIR");
  if (locked.empty()) GTEST_SKIP() << "needs a folder that refuses new files (run_platform_tests.sh)";
  auto there = MakeWin32FileSystem(locked);
  FileError err = FileError::None;
  EXPECT_EQ(there->CreateExclusive("CDRWFW00.BIN", &err), kNoFile);
  EXPECT_EQ(err, FileError::AccessDenied);
}

TEST_F(Win32FilesTest, AFullDiskSaysSo) {
  const std::string full = EnvOr("ORVEL_SMALL_DIR");
  if (full.empty()) GTEST_SKIP() << "needs a small file system (run_platform_tests.sh, as root)";
  auto there = MakeWin32FileSystem(full);
  FileError err = FileError::None;
  const FileHandle h = there->CreateExclusive("CDRWFW00.BIN", &err);
  ASSERT_NE(h, kNoFile) << FileErrorText(err);
  const std::vector<std::uint8_t> megabyte(std::size_t{1} << 20, 0xA5);
  EXPECT_FALSE(there->WriteAll(h, megabyte, &err));
  EXPECT_EQ(err, FileError::NoSpace);
  FileError closeError = FileError::None;
  there->SyncAndClose(h, &closeError);
  EXPECT_TRUE(there->Remove("CDRWFW00.BIN"));
}

}  // namespace
}  // namespace orvel
