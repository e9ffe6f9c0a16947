#include <gtest/gtest.h>

#include <utility>

#include "tests/support/fake_platform.h"
#include "transport/scsi_transport.h"

namespace orvel {
namespace {

using testing::FakePlatform;

struct Selected {
  bool ok;
  TransportMessage message;
};

Selected Select(FakePlatform&, ScsiTransport& t) {
  Selected s{false, {"(none)", MessageIcon::Information}};
  s.ok = t.SelectTransport(&s.message);
  return s;
}

TEST(SelectTransport, UnknownPlatformEndsWithItsIdAndAnExclamation) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0u, "ASPI:LoadErr [0]"}, {3u, "ASPI:LoadErr [3]"}, {17u, "ASPI:LoadErr [17]"},
      {0xFFFFFFFFu, "ASPI:LoadErr [-1]"}};  // the id is printed as a signed number
  for (const auto& [id, text] : cases) {
    FakePlatform p;
    p.platformId = id;
    ScsiTransport t(p);
    const Selected s = Select(p, t);
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.message.text, text);
    EXPECT_EQ(s.message.icon, MessageIcon::Exclamation);
    EXPECT_TRUE(p.loadedLibraries.empty());
  }
}

TEST(SelectTransport, AspiFailuresStopWithTheirMessages) {
  {
    FakePlatform p;
    p.platformId = kPlatformWindows;
    p.libraryPresent = false;
    ScsiTransport t(p);
    const Selected s = Select(p, t);
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.message.text, "Not found 'ASPI32.DLL'");
    EXPECT_EQ(s.message.icon, MessageIcon::Stop);
    ASSERT_EQ(p.loadedLibraries.size(), 1u);
    EXPECT_EQ(p.loadedLibraries[0], "WNASPI32.DLL");
  }
  for (const char* entry : {"GetASPI32SupportInfo", "SendASPI32Command"}) {
    FakePlatform p;
    p.platformId = kPlatformWindows;
    p.missingEntryPoints = {entry};
    ScsiTransport t(p);
    const Selected s = Select(p, t);
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.message.text, "ASPI Function Error 'ASPI32.DLL'");
    EXPECT_EQ(s.message.icon, MessageIcon::Stop);
    EXPECT_EQ(p.freedLibraries, 1) << entry;
  }
  for (std::uint32_t info : {0xE800u, 0x0003u, 0x0403u}) {
    FakePlatform p;
    p.platformId = kPlatformWindows;
    p.supportInfo = info;
    ScsiTransport t(p);
    const Selected s = Select(p, t);
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.message.text, "Not found ASPI MANAGER");
    EXPECT_EQ(s.message.icon, MessageIcon::Stop);
  }
}

TEST(SelectTransport, AspiReadyTakesTheAdapterCount) {
  for (std::uint32_t count : {0u, 3u, 255u}) {
    FakePlatform p;
    p.platformId = kPlatformWindows;
    p.supportInfo = 0x0100 | count;
    ScsiTransport t(p);
    const Selected s = Select(p, t);
    EXPECT_TRUE(s.ok);
    EXPECT_EQ(t.mode, TransportMode::Aspi);
    EXPECT_EQ(t.adapterCount, count);
    EXPECT_EQ(p.freedLibraries, 0);
  }
}

TEST(SelectTransport, NtProbesAllTenCdromNamesAndChoosesTheMode) {
  FakePlatform p;
  p.platformId = kPlatformNt;
  p.devices = {"\\\\.\\cdrom1"};
  ScsiTransport t(p);
  EXPECT_TRUE(Select(p, t).ok);
  EXPECT_EQ(t.mode, TransportMode::CdromDevice);
  ASSERT_EQ(p.openAttempts.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(p.openAttempts[i], "\\\\.\\cdrom" + std::to_string(i));
  }
  EXPECT_EQ(p.openHandles, 0);
  EXPECT_TRUE(p.loadedLibraries.empty()) << "no ASPI library on the NT family";

  FakePlatform none;
  none.platformId = kPlatformNt;
  none.devices = {"\\\\.\\d:"};
  ScsiTransport t2(none);
  EXPECT_TRUE(Select(none, t2).ok);
  EXPECT_EQ(t2.mode, TransportMode::DriveLetter);
  EXPECT_EQ(none.openAttempts.size(), 10u);
}

TEST(SelectTransport, NullMessageIsTolerated) {
  FakePlatform p;
  p.platformId = 0;
  ScsiTransport t(p);
  EXPECT_FALSE(t.SelectTransport(nullptr));
}

}  // namespace
}  // namespace orvel
