#include "platform/linux/linux_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include <sys/sysmacros.h>

#include "drive/drive_commands.h"
#include "transport/scsi_transport.h"
#include "update/access_texts.h"

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

// The real backend with some system calls scripted: some nodes refuse with
// EACCES, SG_IO answers from a function instead of a drive, and the fake
// nodes (regular files) stat as the device nodes `nodes` says they are.
class ScriptedLinux : public LinuxPlatform {
 public:
  using LinuxPlatform::LinuxPlatform;
  struct FakeNode {
    bool character = true;
    dev_t rdev = 0;
  };
  std::set<std::string> denied;
  std::vector<std::string> opened;
  std::vector<std::string> openedExclusively;
  int exclusiveError = 0;  // errno of every O_EXCL open; 0: it opens
  std::map<std::string, FakeNode> nodes;
  std::function<int(sg_io_hdr_t&)> sgIo;

 protected:
  int OpenNode(const std::string& path) override {
    if (denied.count(path) != 0) {
      return -EACCES;
    }
    const int fd = LinuxPlatform::OpenNode(path);
    if (fd >= 0) {
      opened.push_back(path);
      fdPaths_[fd] = path;
    }
    return fd;
  }
  int OpenNodeExclusively(const std::string& path) override {
    if (exclusiveError != 0) return -exclusiveError;
    const int fd = LinuxPlatform::OpenNodeExclusively(path);
    if (fd >= 0) {
      openedExclusively.push_back(path);
      fdPaths_[fd] = path;
    }
    return fd;
  }
  int SendSgIo(int, sg_io_hdr_t& hdr) override { return sgIo ? sgIo(hdr) : -ENOTTY; }
  int StatDescriptor(int fd, struct stat& st) override {
    const auto it = fdPaths_.find(fd);
    return it == fdPaths_.end() ? LinuxPlatform::StatDescriptor(fd, st) : StatPath(it->second, st);
  }
  int StatPath(const std::string& path, struct stat& st) override {
    const auto it = nodes.find(path);
    if (it == nodes.end()) return LinuxPlatform::StatPath(path, st);
    st = {};
    st.st_mode = (it->second.character ? S_IFCHR : S_IFBLK) | S_IRUSR | S_IWUSR;
    st.st_rdev = it->second.rdev;
    return 0;
  }

 private:
  std::map<int, std::string> fdPaths_;
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
  tree.Node("sr10");
  tree.Node("srx");
  tree.Dir("sys/class/block/sr12");  // known to the kernel, but no node
  EXPECT_EQ(p.PresentDeviceNumbers(TransportMode::CdromDevice), (std::vector<std::uint16_t>{0, 1, 2, 10}))
      << "sr7 is a directory, not a node";
  EXPECT_EQ(p.PresentDeviceNumbers(TransportMode::DriveLetter), (std::vector<std::uint16_t>{1, 4}));
  EXPECT_TRUE(p.opened.empty());
  FakeTree empty;
  LinuxPlatform none(empty.Root(), empty.Dev(), empty.Sys());
  EXPECT_TRUE(none.PresentDeviceNumbers(TransportMode::CdromDevice).empty());
}

// The route's numbers are those sysfs's classes and the node directory name,
// in numeric order, past 9 as well; names that only look alike are no node.
TEST_F(LinuxPlatformTest, RouteNumbersAreEnumeratedNotGuessed) {
  struct Row {
    const char* what;
    std::vector<std::string> sysDirs;
    std::vector<std::string> devNodes;
    TransportMode mode;
    std::vector<std::uint16_t> numbers;
  };
  const Row rows[] = {
      {"sysfs and /dev together, in numeric order",
       {"sys/class/block/sr12", "sys/class/block/sda", "sys/class/block/sr3x", "sys/block/sr21"},
       {"sr10", "sr65536", "srx"},
       TransportMode::CdromDevice,
       {0, 1, 2, 10, 12, 21}},
      {"generic nodes from their own class",
       {"sys/class/scsi_generic/sg15", "sys/class/block/sr4"},
       {"sg300"},
       TransportMode::DriveLetter,
       {1, 4, 15, 300}},
  };
  for (const Row& row : rows) {
    FakeTree rowTree;
    for (const char* base : {"sr0", "sg1", "sr1", "sr2", "sg4"}) rowTree.Node(base);
    rowTree.Dir("dev/sr7");
    rowTree.Dir("sys/class/block/sr0");
    for (const std::string& dir : row.sysDirs) rowTree.Dir(dir);
    for (const std::string& node : row.devNodes) rowTree.Node(node);
    ScriptedLinux backend(rowTree.Root(), rowTree.Dev(), rowTree.Sys());
    EXPECT_EQ(backend.RouteDeviceNumbers(row.mode), row.numbers) << row.what;
    EXPECT_TRUE(backend.opened.empty()) << row.what;
  }
  EXPECT_TRUE(p.RouteDeviceNumbers(TransportMode::Aspi).empty());
}

// Each name knows the other node of its drive through sysfs, past sr9 too.
TEST_F(LinuxPlatformTest, NodesOfADriveAreFoundFromEitherName) {
  tree.Dir("sys/class/block/sr12/device/scsi_generic/sg14");
  tree.Dir("sys/class/scsi_generic/sg14/device/block/sr12");
  struct Row {
    std::string name;
    std::string block;
    std::string generic;
  };
  const Row rows[] = {
      {Dev("sr12"), Dev("sr12"), Dev("sg14")},
      {Dev("sg14"), Dev("sr12"), Dev("sg14")},
      {Dev("sg4"), "", Dev("sg4")},  // a generic node without a block node
      {Dev("sr1"), Dev("sr1"), ""},
      {"/elsewhere/disk", "", ""},
  };
  for (const Row& row : rows) {
    const DeviceNodes nodes = p.NodesOf(row.name);
    EXPECT_EQ(nodes.block, row.block) << row.name;
    EXPECT_EQ(nodes.generic, row.generic) << row.name;
  }
  EXPECT_TRUE(p.opened.empty());
}

TEST_F(LinuxPlatformTest, NodePathsAreResolvedThroughTheirLinks) {
  tree.Dir("dev/disk/by-id");
  fs::create_symlink("../../sr0", fs::path(tree.Dev()) / "disk" / "by-id" / "usb-KESTREL_CRW-0:0");
  fs::create_symlink("sr0", fs::path(tree.Dev()) / "cdrom");
  EXPECT_EQ(p.ResolveNodePath(tree.Dev() + "/disk/by-id/usb-KESTREL_CRW-0:0"), Dev("sr0"));
  EXPECT_EQ(p.ResolveNodePath(tree.Dev() + "/cdrom"), Dev("sr0"));
  EXPECT_EQ(p.ResolveNodePath(tree.Dev() + "/./sg1"), Dev("sg1"));
  EXPECT_EQ(p.ResolveNodePath(tree.Dev() + "/sr55"), Dev("sr55")) << "a missing node is itself";
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

  // For scripts, node by node: each refused node once.
  p.denied.insert(Dev("sg4"));
  p.CloseDevice(p.OpenDevice(Dev("sr0")));
  p.CloseDevice(p.OpenDevice(Dev("sr2")));
  const std::vector<NodeAccessProblem> problems = p.AccessProblems();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].node, Dev("sg1"));
  EXPECT_EQ(problems[0].reason, "permission denied");
  EXPECT_NE(problems[0].remedy.find("group 'cdrom'"), std::string::npos) << problems[0].remedy;
  EXPECT_EQ(problems[1].node, Dev("sg4"));
  EXPECT_EQ(p.AccessProblem(), msg) << "the line for people names the first";
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
  const std::vector<NodeAccessProblem> problems = p.AccessProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].node, Dev("sr1"));
  EXPECT_NE(problems[0].reason.find("CAP_SYS_RAWIO"), std::string::npos);
  EXPECT_NE(problems[0].remedy.find("/dev/sg*"), std::string::npos) << problems[0].remedy;
  // In Japanese the same line, with the same remedy in it.
  EXPECT_EQ(AccessProblemLine(p, 0), p.AccessProblem());
  const std::string japanese = AccessProblemLine(p, 1);
  EXPECT_EQ(japanese.find("CAP_SYS_RAWIO がないため、カーネルが " + Dev("sr1") + " へのベンダーコマンドを受け付けません。"),
            0u)
      << japanese;
  EXPECT_NE(japanese.find(AccessRemedyText(problems[0], 1)), std::string::npos) << japanese;
  EXPECT_NE(AccessRemedyText(problems[0], 1).find("/dev/sg*"), std::string::npos);
  EXPECT_EQ(japanese.find("cannot open"), std::string::npos) << japanese;
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
  EXPECT_EQ(AccessProblemLine(p, 1),
            "CAP_SYS_RAWIO がないため、カーネルが " + Dev("sr0") + " へのベンダーコマンドを受け付けません。また、" +
                Dev("sg1") + " を開けません（権限がありません）: ユーザーをグループ 'cdrom' に加えて（sudo usermod -aG cdrom "
                "$USER）ログインし直すか、root で実行してください");
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

// A drive at SCSI address 0:0:1:0 with block node sr0 (11:0) and generic
// node sg1 (21:1), and a disk at 0:0:2:0 (sg2, 21:2), as sysfs shows them.
struct ListedDriveRig {
  static constexpr unsigned kSrMajor = 11;
  static constexpr unsigned kSgMajor = 21;
  ListedDriveRig() {
    tree.Node("sr0");
    tree.Node("sg1");
    tree.Node("sg2");
    tree.Dir("sys/class/block/sr0/device/scsi_generic/sg1");
    Device("0:0:1:0", "5", "sr0", "11:0");
    Device("0:0:2:0", "0", "sda", "8:0");
    Link("char/21:1", "0:0:1:0");
    Link("block/11:0", "0:0:1:0");
    Link("char/21:2", "0:0:2:0");
    p.nodes[Dev("sr0")] = {false, makedev(ListedDriveRig::kSrMajor, 0)};
    p.nodes[Dev("sg1")] = {true, makedev(ListedDriveRig::kSgMajor, 1)};
    p.nodes[Dev("sg2")] = {true, makedev(ListedDriveRig::kSgMajor, 2)};
    tree.File("mountinfo", "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n");
  }
  void Device(const std::string& address, const std::string& type, const std::string& block,
              const std::string& number) {
    tree.File("sys/devices/scsi/" + address + "/type", type + "\n");
    tree.File("sys/devices/scsi/" + address + "/block/" + block + "/dev", number + "\n");
  }
  // <sys>/dev/<node>/device -> the SCSI device directory, as the kernel links it.
  void Link(const std::string& node, const std::string& address) {
    const fs::path link = fs::path(tree.Sys()) / "dev" / node / "device";
    fs::create_directories(link.parent_path());
    fs::remove(link);
    fs::create_directory_symlink(fs::path(tree.Sys()) / "devices" / "scsi" / address, link);
  }
  void Mount(const std::string& number) {
    std::ofstream(tree.Root() + "/mountinfo", std::ios::app)
        << "40 22 " << number << " / /media/cdrom ro,nosuid shared:9 - iso9660 /dev/sr0 ro\n";
  }
  std::string Dev(const std::string& name) const { return tree.Dev() + "/" + name; }
  // What discovery does: the name opens (and answers), then is remembered.
  int OpenAndRemember(const std::string& name) {
    const DeviceHandle h = p.OpenDevice(name);
    if (h < 0) return -1;
    p.CloseDevice(h);
    return p.RememberListedDevice(name);
  }

  FakeTree tree;
  ScriptedLinux p{tree.Root(), tree.Dev(), tree.Sys(), tree.Root() + "/mountinfo"};
};

class ListedDriveTest : public ::testing::Test, protected ListedDriveRig {};

TEST(ListedDrive, AClaimChecksTheListedDeviceWithoutACommandAndSaysWhyNot) {
  struct Row {
    const char* what;
    std::function<void(ListedDriveRig&)> change;  // between discovery and the claim
    DeviceClaimResult result;
    bool opens;  // an open of the name still reaches the listed drive
  };
  const Row rows[] = {
      {"nothing changed", [](ListedDriveRig&) {}, DeviceClaimResult::Claimed, true},
      {"sg1 is another device now",
       [](ListedDriveRig& t) { t.p.nodes[t.Dev("sg1")].rdev = makedev(ListedDriveRig::kSgMajor, 2); },
       DeviceClaimResult::Changed, false},
      {"sg1's number is at another SCSI address now", [](ListedDriveRig& t) { t.Link("char/21:1", "0:0:2:0"); },
       DeviceClaimResult::Changed, false},
      // The commands would still reach the listed drive through sg1, but sr0 is no longer its name.
      {"sr0 is another device now",
       [](ListedDriveRig& t) { t.p.nodes[t.Dev("sr0")].rdev = makedev(ListedDriveRig::kSrMajor, 1); },
       DeviceClaimResult::Changed, true},
      {"sg1 is gone", [](ListedDriveRig& t) { fs::remove(t.Dev("sg1")); }, DeviceClaimResult::Changed, false},
      {"the device is no CD/DVD device", [](ListedDriveRig& t) { t.Device("0:0:1:0", "0", "sr0", "11:0"); },
       DeviceClaimResult::NotOptical, false},
      {"a disc of it is mounted", [](ListedDriveRig& t) { t.Mount("11:0"); }, DeviceClaimResult::Mounted, true},
      {"busy because a disc is mounted",
       [](ListedDriveRig& t) {
         t.Mount("11:0");
         t.p.exclusiveError = EBUSY;
       },
       DeviceClaimResult::Mounted, true},
      {"another program holds it", [](ListedDriveRig& t) { t.p.exclusiveError = EBUSY; }, DeviceClaimResult::InUse,
       true},
      {"the user may not hold it", [](ListedDriveRig& t) { t.p.exclusiveError = EACCES; },
       DeviceClaimResult::NoAccess, true},
  };
  for (const Row& row : rows) {
    ListedDriveRig t;
    ASSERT_EQ(t.OpenAndRemember(t.Dev("sr0")), 1) << row.what;
    ASSERT_EQ(t.p.opened.back(), t.Dev("sg1")) << "commands go through the generic node";
    row.change(t);
    t.p.sgIo = [&](sg_io_hdr_t&) {
      ADD_FAILURE() << row.what << ": a claim sends no command";
      return -EIO;
    };
    EXPECT_EQ(t.p.ClaimListedDevice(t.Dev("sr0")), row.result) << row.what;
    const bool held = row.result == DeviceClaimResult::Claimed;
    // Held: the generic node, opened with O_EXCL and handed to every open of the name.
    const DeviceHandle h = t.p.OpenDevice(t.Dev("sr0"));
    if (held) {
      EXPECT_EQ(t.p.openedExclusively, std::vector<std::string>{t.Dev("sg1")}) << row.what;
      EXPECT_GE(h, 0) << row.what;
    } else if (row.opens) {
      EXPECT_GE(h, 0) << row.what << ": still the listed drive, only not held";
      EXPECT_TRUE(t.p.openedExclusively.empty() || row.result == DeviceClaimResult::Mounted) << row.what;
    } else {
      EXPECT_EQ(h, -1) << row.what << ": an open of the name reaches no other device either";
    }
    t.p.CloseDevice(h);
    t.p.ReleaseListedDevice(t.Dev("sr0"));
  }
}

TEST_F(ListedDriveTest, TheHeldNodeIsCheckedOnEveryOpenAndLetGoAtTheEnd) {
  ASSERT_EQ(OpenAndRemember(Dev("sr0")), 1);
  // A node that is no device is not remembered, so it cannot be claimed.
  tree.Node("sg7");
  EXPECT_EQ(OpenAndRemember(Dev("sg7")), 0);
  EXPECT_EQ(p.ClaimListedDevice(Dev("sg7")), DeviceClaimResult::NotListed);
  EXPECT_EQ(p.ClaimListedDevice(Dev("sr5")), DeviceClaimResult::NotListed);

  ASSERT_EQ(p.ClaimListedDevice(Dev("sr0")), DeviceClaimResult::Claimed);
  const std::size_t opens = p.opened.size();
  const DeviceHandle first = p.OpenDevice(Dev("sr0"));
  p.CloseDevice(first);
  const DeviceHandle second = p.OpenDevice(Dev("sr0"));
  EXPECT_EQ(first, second) << "one descriptor for the whole attempt";
  EXPECT_EQ(p.opened.size(), opens) << "no other open while it is held";
  p.CloseDevice(second);
  // A hot-plug meanwhile: the next open fails, so no command goes out.
  p.nodes[Dev("sg1")].rdev = makedev(ListedDriveRig::kSgMajor, 2);
  EXPECT_EQ(p.OpenDevice(Dev("sr0")), -1);
  p.nodes[Dev("sg1")].rdev = makedev(ListedDriveRig::kSgMajor, 1);
  p.ReleaseListedDevice(Dev("sr0"));
  EXPECT_EQ(fcntl(second, F_GETFD), -1) << "the exclusive descriptor is closed when the hold ends";
}

}  // namespace
}  // namespace orvel
