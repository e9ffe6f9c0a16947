#include "platform/linux/linux_platform.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>

#include "drive/drive_commands.h"
#include "transport/scsi_transport.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

// A temporary /dev and /sys with fake nodes: regular files stand for device nodes.
class FakeTree {
 public:
  FakeTree() {
    std::string tmpl = (fs::temp_directory_path() / "orvel-linux-XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    fs::create_directories(root_ / "dev");
    fs::create_directories(root_ / "sys");
  }
  ~FakeTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void Node(const std::string& name) { std::ofstream(root_ / "dev" / name) << ""; }
  void Dir(const std::string& rel) { fs::create_directories(root_ / rel); }
  void File(const std::string& rel, const std::string& text) {
    fs::create_directories((root_ / rel).parent_path());
    std::ofstream(root_ / rel) << text;
  }
  std::string Dev() const { return (root_ / "dev").string(); }
  std::string Sys() const { return (root_ / "sys").string(); }
  std::string Root() const { return root_.string(); }

 private:
  fs::path root_;
};

// The real backend with two system calls scripted: some nodes refuse with
// EACCES, and SG_IO answers from a function instead of a drive.
class ScriptedLinux : public LinuxPlatform {
 public:
  using LinuxPlatform::LinuxPlatform;
  std::set<std::string> denied;
  std::vector<std::string> opened;
  std::function<int(sg_io_hdr_t&)> sgIo;

 protected:
  int OpenNode(const std::string& path) override {
    if (denied.count(path) != 0) {
      return -EACCES;
    }
    const int fd = LinuxPlatform::OpenNode(path);
    if (fd >= 0) {
      opened.push_back(path);
    }
    return fd;
  }
  int SendSgIo(int, sg_io_hdr_t& hdr) override { return sgIo ? sgIo(hdr) : -ENOTTY; }
};

class LinuxPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.Node("sr0");
    tree.Node("sg1");
    tree.Node("sr1");
    tree.Node("sr2");
    tree.Node("sg4");
    tree.Dir("dev/sr7");
    tree.Dir("sys/class/block/sr0/device/scsi_generic/sg1");
    tree.Dir("sys/block/sr2/device/scsi_generic/sg4");
  }
  std::string Dev(const std::string& name) const { return tree.Dev() + "/" + name; }

  FakeTree tree;
  ScriptedLinux p{tree.Root(), tree.Dev(), tree.Sys()};
};

TEST_F(LinuxPlatformTest, NamesAndIdentity) {
  EXPECT_EQ(p.PlatformId(), kPlatformNt);
  EXPECT_EQ(p.LoadLibrary("WNASPI32.DLL"), nullptr);
  EXPECT_EQ(p.DeviceName(TransportMode::CdromDevice, 3), Dev("sr3"));
  EXPECT_EQ(p.DeviceName(TransportMode::DriveLetter, 0), Dev("sg0"));
  EXPECT_EQ(p.DeviceName(TransportMode::DriveLetter, 9), Dev("sg9"));
  EXPECT_NE(p.CreateEvent(), 0u);
}

TEST_F(LinuxPlatformTest, CdromNodesMapToTheirGenericNodeThroughSysfs) {
  EXPECT_EQ(p.GenericNodeFor(Dev("sr0")), Dev("sg1"));
  EXPECT_EQ(p.GenericNodeFor(Dev("sr2")), Dev("sg4")) << "the /sys/block path serves as well";
  EXPECT_EQ(p.GenericNodeFor(Dev("sr1")), "");
  EXPECT_EQ(p.GenericNodeFor(Dev("sg1")), "");
  EXPECT_EQ(p.GenericNodeFor("/elsewhere/sr0"), "");
  EXPECT_EQ(p.GenericNodeFor(Dev("srx")), "");
  EXPECT_EQ(p.GenericNodeFor(Dev("sr99999999999999999999")), "");
  EXPECT_EQ(p.GenericNodeFor(Dev("sr0")), Dev("sg1")) << "asked again, the same answer";

  const DeviceHandle h = p.OpenDevice(Dev("sr0"));
  ASSERT_GE(h, 0);
  EXPECT_EQ(p.opened.back(), Dev("sg1"));
  p.CloseDevice(h);

  const DeviceHandle plain = p.OpenDevice(Dev("sr1"));
  ASSERT_GE(plain, 0);
  EXPECT_EQ(p.opened.back(), Dev("sr1"));
  p.CloseDevice(plain);
  EXPECT_EQ(p.AccessProblem(), "");
}

TEST_F(LinuxPlatformTest, PresentNodesAreListedWithoutOpeningAny) {
  tree.Node("sr10");  // beyond the route's numbers
  tree.Node("srx");
  EXPECT_EQ(p.PresentDeviceNumbers(TransportMode::CdromDevice), (std::vector<std::uint8_t>{0, 1, 2}))
      << "sr7 is a directory, not a node";
  EXPECT_EQ(p.PresentDeviceNumbers(TransportMode::DriveLetter), (std::vector<std::uint8_t>{1, 4}));
  EXPECT_TRUE(p.opened.empty());
  FakeTree empty;
  LinuxPlatform none(empty.Root(), empty.Dev(), empty.Sys());
  EXPECT_TRUE(none.PresentDeviceNumbers(TransportMode::CdromDevice).empty());
}

TEST_F(LinuxPlatformTest, OpenFailuresAreReportedAsNoDevice) {
  EXPECT_EQ(p.OpenDevice(Dev("sr5")), -1);
  EXPECT_EQ(p.OpenDevice(Dev("sr7")), -1) << "a directory is no device";
  EXPECT_EQ(p.AccessProblem(), "") << "missing nodes are no access problem";
}

TEST_F(LinuxPlatformTest, PermissionProblemsNameTheNodeAndTheRemedy) {
  p.denied = {Dev("sg1")};
  // The generic node is refused; the block node still opens.
  const DeviceHandle h = p.OpenDevice(Dev("sr0"));
  ASSERT_GE(h, 0);
  EXPECT_EQ(p.opened.back(), Dev("sr0"));
  p.CloseDevice(h);
  const std::string msg = p.AccessProblem();
  EXPECT_NE(msg.find("cannot open " + Dev("sg1") + " (permission denied)"), std::string::npos) << msg;
  EXPECT_NE(msg.find("group 'cdrom'"), std::string::npos) << msg;
  EXPECT_NE(msg.find("usermod -aG cdrom"), std::string::npos) << msg;
}

TEST_F(LinuxPlatformTest, OnlyOpticalGenericNodesCountAsAccessProblems) {
  tree.Node("sg5");
  tree.Node("sg6");
  tree.File("sys/class/scsi_generic/sg5/device/type", "0\n");
  tree.File("sys/class/scsi_generic/sg6/device/type", "5\n");
  p.denied = {Dev("sg5"), Dev("sg6")};
  EXPECT_EQ(p.OpenDevice(Dev("sg5")), -1);
  EXPECT_EQ(p.AccessProblem(), "") << "a disk the user may not open is none of our business";
  EXPECT_EQ(p.OpenDevice(Dev("sg6")), -1);
  EXPECT_NE(p.AccessProblem().find(Dev("sg6")), std::string::npos);
}

TEST_F(LinuxPlatformTest, FilteredVendorCommandsOnABlockNodeAreExplained) {
  p.sgIo = [](sg_io_hdr_t&) { return -EPERM; };
  ScsiTransport t(p);
  t.mode = TransportMode::CdromDevice;
  t.address.deviceNumber = 1;  // sr1 has no generic node
  EXPECT_EQ(EnterUpdateMode(t, 1), 0);
  EXPECT_NE(p.AccessProblem().find("CAP_SYS_RAWIO"), std::string::npos) << p.AccessProblem();
  EXPECT_NE(p.AccessProblem().find(Dev("sr1")), std::string::npos);
}

// The generic node would not open, so the block node was used and the kernel
// filtered the command there: both are said, the refusal first.
TEST_F(LinuxPlatformTest, FilteredVendorCommandsAfterARefusedGenericNodeSayBoth) {
  p.denied = {Dev("sg1")};
  p.sgIo = [](sg_io_hdr_t&) { return -EPERM; };
  ScsiTransport t(p);
  t.mode = TransportMode::CdromDevice;
  t.address.deviceNumber = 0;  // sr0, whose generic node sg1 is refused
  EXPECT_EQ(EnterUpdateMode(t, 1), 0);
  const std::string msg = p.AccessProblem();
  EXPECT_EQ(msg.find("the kernel refuses vendor commands to " + Dev("sr0") + " without CAP_SYS_RAWIO"), 0u) << msg;
  EXPECT_NE(msg.find("cannot open " + Dev("sg1") + " (permission denied)"), std::string::npos) << msg;
  EXPECT_EQ(EnterUpdateMode(t, 1), 0);
  EXPECT_EQ(p.AccessProblem(), msg) << "said once";
}

TEST_F(LinuxPlatformTest, CommandsRunEndToEndThroughTheTransport) {
  // The scripted SG_IO delivers 20 bytes of INQUIRY and reports the residual.
  std::vector<sg_io_hdr_t> seen;
  p.sgIo = [&seen](sg_io_hdr_t& hdr) {
    seen.push_back(hdr);
    auto* data = static_cast<std::uint8_t*>(hdr.dxferp);
    for (int i = 0; i < 20; ++i) data[i] = 0x41;
    hdr.resid = static_cast<int>(hdr.dxfer_len) - 20;
    hdr.status = 0;
    return 0;
  };
  ScsiTransport t(p);
  TransportMessage msg;
  ASSERT_TRUE(t.SelectTransport(&msg));
  EXPECT_EQ(t.mode, TransportMode::CdromDevice);
  std::fill(t.DataBuffer().begin(), t.DataBuffer().end(), std::uint8_t{0x5C});
  t.address.deviceNumber = 0;
  EXPECT_EQ(Inquiry(t), 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(p.opened.back(), Dev("sg1"));
  EXPECT_EQ(seen[0].dxferp, t.DataBuffer().data());
  EXPECT_EQ(seen[0].timeout, 2000u);
  EXPECT_EQ(t.lastTransferred, 20u);
  EXPECT_EQ(t.DataBuffer()[19], 0x41);
  EXPECT_EQ(t.DataBuffer()[20], 0x00) << "bytes that did not arrive read as zero";

  // A firmware read that comes up short fails.
  int alternate = 0;
  EXPECT_EQ(ReadFirmwareBlock(t, 0, alternate), 0);

  // CHECK CONDITION with descriptor sense reaches lastAsc/lastAscq.
  p.sgIo = [](sg_io_hdr_t& hdr) {
    const std::uint8_t sense[] = {0x72, 0x02, 0x3A, 0x00, 0, 0, 0, 0};
    std::copy(std::begin(sense), std::end(sense), hdr.sbp);
    hdr.sb_len_wr = sizeof sense;
    hdr.status = 0x02;
    hdr.driver_status = 0x08;
    return 0;
  };
  EXPECT_EQ(PollRewriteStatus(t), 0);
  EXPECT_EQ(t.lastAsc, 0x3A);
  EXPECT_EQ(t.lastAscq, 0x00);

  struct LastOutcome : CommandObserver {
    CommandOutcome outcome = CommandOutcome::Good;
    void OnCommand(const CommandRecord& r) override { outcome = r.outcome; }
  } observer;
  t.SetObserver(&observer);
  p.sgIo = [](sg_io_hdr_t& hdr) {
    hdr.host_status = 0x03;
    return 0;
  };
  EXPECT_EQ(PollRewriteStatus(t), 0);
  EXPECT_EQ(t.lastAsc, 0);
  EXPECT_EQ(observer.outcome, CommandOutcome::Timeout);
}

}  // namespace
}  // namespace orvel
