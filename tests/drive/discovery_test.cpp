#include <gtest/gtest.h>

#include <map>

#include "firmware/catalogue.h"
#include "tests/support/fake_platform.h"
#include "drive/discovery.h"

namespace orvel {
namespace {

using testing::AspiStep;
using testing::FakePlatform;
using testing::InquiryData;

std::string ProductRow(std::size_t i) { return std::string(ProductIdTable[i].data(), kProductIdLength); }
std::string LoaderRowId(std::size_t i) { return std::string(LoaderTable[i].loaderId, kProductIdLength); }

// Pass-through drives by device name, answering INQUIRY with their data.
class PassThroughDiscovery : public ::testing::Test {
 protected:
  void Attach(const std::string& name, std::vector<std::uint8_t> inquiry) {
    p.devices.insert(name);
    drives[name] = std::move(inquiry);
  }
  void SetUp() override {
    p.responder = [this](const std::string& dev, std::span<std::uint8_t> b) {
      if (b[spt::kCdb] != 0x12) {
        return PassThroughResult::Failed;
      }
      const auto it = drives.find(dev);
      if (it == drives.end()) {
        return testing::CheckCondition(b, 0x25, 0x00);
      }
      return testing::Good(b, it->second);
    };
  }
  FakePlatform p;
  ScsiTransport t{p};
  std::map<std::string, std::vector<std::uint8_t>> drives;
};

TEST_F(PassThroughDiscovery, ListsCatalogueDrivesInProbeOrderWithTheirAddresses) {
  t.mode = TransportMode::CdromDevice;
  Attach("\\\\.\\cdrom7", InquiryData("KESTREL ", ProductRow(1), "1.02"));
  Attach("\\\\.\\cdrom2", InquiryData("KESTREL ", ProductRow(0), "1.00"));
  Attach("\\\\.\\cdrom4", InquiryData("OTHERCO ", "NOT A CATALOGUE", "9.99"));
  Attach("\\\\.\\cdrom9", InquiryData("KESTREL ", ProductRow(1), "1.02"));

  const auto list = DiscoverDrives(t);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].label, "cdrom2 :  KESTREL " + ProductRow(0) + "1.00");
  EXPECT_EQ(list[0].address.deviceNumber, 2);
  EXPECT_EQ(list[1].label, "cdrom7 :  KESTREL " + ProductRow(1) + "1.02");
  EXPECT_EQ(list[2].address.deviceNumber, 9) << "the same drive twice is listed twice";
  EXPECT_EQ(list[0].vendor, "KESTREL ");
  EXPECT_EQ(list[0].product, ProductRow(0));
  EXPECT_EQ(list[0].revision, "1.00");
  ASSERT_EQ(p.openAttempts.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(p.openAttempts[i], "\\\\.\\cdrom" + std::to_string(i));
  }
  EXPECT_EQ(t.address.deviceNumber, 9) << "left at the last address probed";
}

// Where the platform enumerates its nodes, numbers past 9 are probed in its
// order, and only the address kept beside the label carries them.
TEST_F(PassThroughDiscovery, PlatformRouteNumbersPastNineAreProbedAndKeptBesideTheLabel) {
  p.platformId = kPlatformNt;
  p.routeNumbers = std::vector<std::uint16_t>{3, 12, 300};
  Attach("\\\\.\\cdrom12", InquiryData("KESTREL ", ProductRow(0), "1.00"));
  Attach("\\\\.\\cdrom300", InquiryData("KESTREL ", ProductRow(1), "1.02"));
  p.nodes["\\\\.\\cdrom12"] = DeviceNodes{"/dev/sr12", "/dev/sg14"};
  ASSERT_TRUE(t.SelectTransport(nullptr));
  EXPECT_EQ(t.mode, TransportMode::CdromDevice) << "the route probe asks the same numbers";
  p.openAttempts.clear();

  const auto list = DiscoverDrives(t);
  EXPECT_EQ(p.openAttempts, (std::vector<std::string>{"\\\\.\\cdrom3", "\\\\.\\cdrom12", "\\\\.\\cdrom300"}));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].label, "cdrom12 :  KESTREL " + ProductRow(0) + "1.00");
  EXPECT_EQ(list[0].address.deviceNumber, 12);
  EXPECT_EQ(list[1].address.deviceNumber, 300) << "no number is cut to a byte";
  EXPECT_EQ(list[0].device, "\\\\.\\cdrom12");
  EXPECT_EQ(list[0].nodes.block, "/dev/sr12");
  EXPECT_EQ(list[0].nodes.generic, "/dev/sg14");
  EXPECT_EQ(list[1].nodes.block, "") << "nodes the platform does not know stay empty";

  // The label's digit would name another drive.
  AddressFromLabel(t, list[0].label);
  EXPECT_EQ(t.address.deviceNumber, 1);
}

TEST_F(PassThroughDiscovery, DriveLetterLabelsAndLoaderModeDrives) {
  t.mode = TransportMode::DriveLetter;
  Attach("\\\\.\\e:", InquiryData("KESTREL ", LoaderRowId(0), "0.01"));
  const auto list = DiscoverDrives(t);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].label, "drive1 :  KESTREL " + LoaderRowId(0) + "0.01");
}

TEST_F(PassThroughDiscovery, ProductMustMatchByteForByte) {
  t.mode = TransportMode::CdromDevice;
  std::string trailing = ProductRow(0);
  trailing.back() = trailing.back() == ' ' ? 'X' : ' ';
  std::string lower = ProductRow(0);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_NE(lower, ProductRow(0));
  // A row shortened by one character and padded with a blank.
  std::string shifted = " " + ProductRow(0).substr(0, 15);
  Attach("\\\\.\\cdrom0", InquiryData("KESTREL ", trailing, "1.00"));
  Attach("\\\\.\\cdrom1", InquiryData("KESTREL ", lower, "1.00"));
  Attach("\\\\.\\cdrom2", InquiryData("KESTREL ", shifted, "1.00"));
  EXPECT_TRUE(DiscoverDrives(t).empty());
}

TEST_F(PassThroughDiscovery, IdentificationEndsAtANul) {
  t.mode = TransportMode::CdromDevice;
  auto data = InquiryData("KESTREL ", ProductRow(0), "1.00");
  data[33] = 0;
  Attach("\\\\.\\cdrom0", data);
  const auto list = DiscoverDrives(t);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].label, "cdrom0 :  KESTREL " + ProductRow(0) + "1");
  EXPECT_EQ(list[0].revision, "1");
}

TEST_F(PassThroughDiscovery, StaleBufferBytesAreNeverTakenForIdentification) {
  t.mode = TransportMode::CdromDevice;
  // An earlier read left a catalogue identification in the buffer.
  auto stale = InquiryData("KESTREL ", ProductRow(0), "1.00");
  std::copy(stale.begin(), stale.end(), t.DataBuffer().begin());
  // This device answers GOOD but delivers only the first 8 bytes.
  p.devices.insert("\\\\.\\cdrom0");
  p.responder = [](const std::string&, std::span<std::uint8_t> b) {
    const std::vector<std::uint8_t> head = {0x05, 0x80, 0x00, 0x02, 31, 0, 0, 0};
    return testing::Good(b, head);
  };
  EXPECT_TRUE(DiscoverDrives(t).empty());

  // Likewise for an answer whose additional length stops before the product.
  auto shortAnswer = InquiryData("KESTREL ", ProductRow(0), "1.00");
  shortAnswer[4] = 10;
  drives.clear();
  SetUp();
  Attach("\\\\.\\cdrom0", shortAnswer);
  EXPECT_TRUE(DiscoverDrives(t).empty());
}

TEST(AspiDiscovery, ProbesEveryTargetOfEveryAdapterInOrder) {
  FakePlatform p;
  p.platformId = kPlatformWindows;
  p.supportInfo = 0x0102;
  ScsiTransport t(p);
  ASSERT_TRUE(t.SelectTransport(nullptr));
  for (int i = 0; i < 16; ++i) {
    AspiStep step;
    step.finalStatus = srb::SS_NO_DEVICE;
    if (i == 3 || i == 13) {
      step.finalStatus = srb::SS_COMP;
      step.data = InquiryData("KESTREL ", ProductRow(i == 3 ? 0 : 2), "2.00");
    }
    p.aspiSteps.push_back(step);
  }
  const auto list = DiscoverDrives(t);
  ASSERT_EQ(p.sentSrbs.size(), 16u);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(p.sentSrbs[i][srb::kHaId], i / 8);
    EXPECT_EQ(p.sentSrbs[i][srb::kTarget], i % 8);
    EXPECT_EQ(p.sentSrbs[i][srb::kLun], 0);
  }
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].label, "HA:0 ID:3  KESTREL " + ProductRow(0) + "2.00");
  EXPECT_EQ(list[1].label, "HA:1 ID:5  KESTREL " + ProductRow(2) + "2.00");
  EXPECT_EQ(list[1].address, (DriveAddress{1, 5, 0}));
}

TEST(AspiDiscovery, NoAdaptersProbesNothing) {
  FakePlatform p;
  p.platformId = kPlatformWindows;
  p.supportInfo = 0x0100;
  ScsiTransport t(p);
  ASSERT_TRUE(t.SelectTransport(nullptr));
  EXPECT_TRUE(DiscoverDrives(t).empty());
  EXPECT_TRUE(p.sentSrbs.empty());
}

TEST(AddressFromLabel, ReadsFixedDigitPositions) {
  FakePlatform p;
  ScsiTransport t(p);
  t.mode = TransportMode::Aspi;
  AddressFromLabel(t, "HA:2 ID:5  KESTREL CRW");
  EXPECT_EQ(t.address.adapterId, 2);
  EXPECT_EQ(t.address.targetId, 5);
  AddressFromLabel(t, "HA:x ID:");
  EXPECT_EQ(t.address.adapterId, 0);
  EXPECT_EQ(t.address.targetId, 0) << "a position past the end counts as a non-digit";

  t.mode = TransportMode::CdromDevice;
  t.address.deviceNumber = 7;
  AddressFromLabel(t, "");
  EXPECT_EQ(t.address.deviceNumber, 0);
  AddressFromLabel(t, "cdrom9 :  X");
  EXPECT_EQ(t.address.deviceNumber, 9);
  AddressFromLabel(t, "cdromA :  X");
  EXPECT_EQ(t.address.deviceNumber, 0);

  t.mode = TransportMode::DriveLetter;
  AddressFromLabel(t, "drive4 :  X");
  EXPECT_EQ(t.address.deviceNumber, 4);
  AddressFromLabel(t, "drive");
  EXPECT_EQ(t.address.deviceNumber, 0);
}

TEST(AddressFromLabel, ReadsBackEveryLabelDiscoveryWrites) {
  FakePlatform p;
  ScsiTransport t(p);
  const auto inquiry = InquiryData("V", "P", "R");
  for (auto mode : {TransportMode::CdromDevice, TransportMode::DriveLetter}) {
    for (std::uint8_t n = 0; n < 10; ++n) {
      t.mode = mode;
      t.address = DriveAddress{0, 0, n};
      const std::string label = FormatDriveLabel(t, inquiry);
      t.address = {};
      AddressFromLabel(t, label);
      EXPECT_EQ(t.address.deviceNumber, n) << label;
    }
  }
  t.mode = TransportMode::Aspi;
  for (std::uint8_t ha = 0; ha < 10; ++ha) {
    for (std::uint8_t id = 0; id < 8; ++id) {
      t.address = DriveAddress{ha, id, 0};
      const std::string label = FormatDriveLabel(t, inquiry);
      t.address = {};
      AddressFromLabel(t, label);
      EXPECT_EQ(t.address, (DriveAddress{ha, id, 0})) << label;
    }
  }
}

}  // namespace
}  // namespace orvel
