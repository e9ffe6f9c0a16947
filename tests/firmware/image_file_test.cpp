#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "firmware/image_file.h"
#include "firmware/sample_firmware.h"
#include "tests/support/memory_files.h"
#include "tests/support/scratch_dir.h"

namespace orvel {
namespace {

namespace stdfs = std::filesystem;

constexpr int kRowQdx = 0;      // family 0
constexpr int kRowQdx50 = 5;    // family 4
constexpr int kRowQdx55 = 10;   // family 5
constexpr int kRowQdx71 = 16;   // family 6
constexpr int kRowKztr4 = 39;   // family 8

class LoadSourceImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orvel::testing::MakeScratchDir("orvel_load");
    ASSERT_FALSE(dir_.empty());
    files_ = MakeNativeFileSystem(dir_.string());
  }
  void TearDown() override {
    std::error_code ec;
    stdfs::remove_all(dir_, ec);
  }
  void Put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(dir_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  int Load(const std::string& name, int row, int driveFamily) {
    return LoadSourceImage(*files_, name, row, static_cast<std::uint8_t>(TypeCodeRow(row).family), driveFamily,
                           buffer_, &report_);
  }
  bool BufferStartsWith(const std::vector<std::uint8_t>& bytes) const {
    return buffer_ && std::equal(bytes.begin(), bytes.end(), buffer_->begin());
  }

  stdfs::path dir_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<ImageBuffer> buffer_;
  LoadReport report_;
};

TEST_F(LoadSourceImageTest, PackedFilesDecodeOnlyUnderAKvfName) {
  const auto plain = MakePlainImage(6, "QDX71", "Packed load", 11);
  const auto file = EncodeForFamily(6, plain);
  Put("NEW.KVF", file);
  Put("new.Kvf", file);
  Put("new.bin", file);
  Put("new.v2.kvf", file);

  ASSERT_EQ(Load("NEW.KVF", kRowQdx71, 6), 1);
  EXPECT_EQ(report_.failure, LoadFailure::None);
  EXPECT_EQ(report_.fileLength, file.size());
  EXPECT_EQ(report_.plainLength, std::size_t{kFullImageSize});
  EXPECT_TRUE(BufferStartsWith(plain));
  EXPECT_EQ(Load("new.Kvf", kRowQdx71, 6), 1);

  EXPECT_EQ(Load("new.bin", kRowQdx71, 6), 0);
  EXPECT_EQ(report_.failure, LoadFailure::ExtensionMismatch);
  // Everything after the first full stop is the extension: "v2.kvf" is not "kvf".
  EXPECT_EQ(Load("new.v2.kvf", kRowQdx71, 6), 0);
  EXPECT_EQ(report_.failure, LoadFailure::ExtensionMismatch);
}

TEST_F(LoadSourceImageTest, PlainFilesLoadUnchangedAndRefuseKvf) {
  const auto plain = MakePlainImage(0, "QDX", "Plain load", 5);
  Put("OLD.BIN", plain);
  Put("old.kvf", plain);
  Put("old.v2.kvf", plain);
  Put("noextension", plain);
  ASSERT_EQ(Load("OLD.BIN", kRowQdx, 0), 1);
  EXPECT_EQ(report_.plainLength, plain.size());
  EXPECT_TRUE(BufferStartsWith(plain));
  EXPECT_EQ(Load("old.v2.kvf", kRowQdx, 0), 1);
  EXPECT_EQ(Load("noextension", kRowQdx, 0), 1);
  EXPECT_EQ(Load("old.kvf", kRowQdx, 0), 0);
  EXPECT_EQ(report_.failure, LoadFailure::ExtensionMismatch);
}

TEST_F(LoadSourceImageTest, ByteKeyedFileKeepsItsIdentificationBlock) {
  const auto plain = MakePlainImage(5, "QDX55", "Byte keyed", 2);
  const auto file = EncodeForFamily(5, plain);
  Put("b.kvf", file);
  ASSERT_EQ(Load("b.kvf", kRowQdx55, 5), 1);
  EXPECT_EQ(report_.plainLength, file.size());
  EXPECT_TRUE(BufferStartsWith(plain));
  EXPECT_TRUE(std::equal(file.begin() + 0x8004, file.begin() + 0x8004 + 36, buffer_->begin() + 0x8004));
}

TEST_F(LoadSourceImageTest, FailuresAreReportedWithoutTouchingMoreThanNeeded) {
  EXPECT_EQ(Load("absent.kvf", kRowQdx71, 6), 0);
  EXPECT_EQ(report_.failure, LoadFailure::OpenFailed);
  EXPECT_EQ(report_.fileError, FileError::NotFound);

  Put("empty.bin", {});
  EXPECT_EQ(Load("empty.bin", kRowQdx, 0), 0);
  EXPECT_EQ(report_.failure, LoadFailure::Empty);

  // An encoded source with a drive of an unencoded family: decoding refuses.
  Put("f6.kvf", MakeFirmwareFile(6, "QDX71", "x", 1));
  EXPECT_EQ(Load("f6.kvf", kRowQdx71, 4), 0);
  EXPECT_EQ(report_.failure, LoadFailure::DecodeFailed);

  // A hostile count in a packed file.
  auto hostile = MakeFirmwareFile(8, "KZTR4", "x", 1);
  hostile[0x4000] = hostile[0x4001] = hostile[0x4002] = hostile[0x4003] = 0xFF;
  Put("hostile.kvf", hostile);
  EXPECT_EQ(Load("hostile.kvf", kRowKztr4, 8), 0);
  EXPECT_EQ(report_.failure, LoadFailure::DecodeFailed);
  EXPECT_TRUE(BufferStartsWith(hostile));  // the buffer keeps the file's bytes
}

TEST_F(LoadSourceImageTest, OversizedFileIsRefusedBeforeReading) {
  const auto ok = MakePlainImage(4, "QDX50", "keep", 1);
  Put("ok.bin", ok);
  ASSERT_EQ(Load("ok.bin", kRowQdx50, 4), 1);
  const ImageBuffer* before = buffer_.get();
  std::vector<std::uint8_t> big(kFullImageSize + 1, 0x5A);
  Put("big.bin", big);
  EXPECT_EQ(Load("big.bin", kRowQdx50, 4), 0);
  EXPECT_EQ(report_.failure, LoadFailure::TooLarge);
  EXPECT_EQ(report_.fileLength, big.size());
  EXPECT_EQ(buffer_.get(), before);
  EXPECT_TRUE(BufferStartsWith(ok));
  // Exactly 1 MiB fits.
  big.pop_back();
  Put("max.bin", big);
  EXPECT_EQ(Load("max.bin", kRowQdx50, 4), 1);
}

TEST(LoadSourceImageFaults, StatusAndShortReads) {
  testing::MemoryFileSystem mem;
  mem.files["a.bin"] = std::vector<std::uint8_t>(5000, 7);
  std::unique_ptr<ImageBuffer> buffer;
  LoadReport report;
  mem.failLength = true;
  EXPECT_EQ(LoadSourceImage(mem, "a.bin", kRowQdx, 0, 0, buffer, &report), 0);
  EXPECT_EQ(report.failure, LoadFailure::StatusFailed);
  EXPECT_EQ(mem.openHandles, 0);

  mem.failLength = false;
  mem.readShortBy = 1;
  EXPECT_EQ(LoadSourceImage(mem, "a.bin", kRowQdx, 0, 0, buffer, &report), 0);
  EXPECT_EQ(report.failure, LoadFailure::ShortRead);
  EXPECT_TRUE(buffer);  // allocated, holding what arrived
  EXPECT_EQ(mem.openHandles, 0);

  mem.readShortBy = 0;
  EXPECT_EQ(LoadSourceImage(mem, "a.bin", kRowQdx, 0, 0, buffer, nullptr), 1);
}

TEST(ReadFirmwareFile, IdentificationTakesWhatArrivesWhereTheLoadRefuses) {
  testing::MemoryFileSystem mem;
  mem.files["a.bin"] = std::vector<std::uint8_t>(5000, 7);
  std::unique_ptr<ImageBuffer> buffer;
  LoadReport report;
  ASSERT_EQ(ReadFirmwareFile(mem, "a.bin", buffer, report), 1);
  EXPECT_EQ(report.fileLength, 5000u);
  EXPECT_EQ(report.bytesRead, 5000u);
  EXPECT_EQ((*buffer)[4999], 7);

  mem.readShortBy = 100;
  EXPECT_EQ(ReadFirmwareFile(mem, "a.bin", buffer, report), 0);
  EXPECT_EQ(report.failure, LoadFailure::ShortRead);
  ASSERT_EQ(ReadFirmwareFile(mem, "a.bin", buffer, report, PartialFile::TakeWhatArrives), 1);
  EXPECT_EQ(report.bytesRead, 4900u);

  mem.readShortBy = 0;
  mem.failLength = true;
  EXPECT_EQ(ReadFirmwareFile(mem, "a.bin", buffer, report), 0);
  EXPECT_EQ(report.failure, LoadFailure::StatusFailed);
  ASSERT_EQ(ReadFirmwareFile(mem, "a.bin", buffer, report, PartialFile::TakeWhatArrives), 1);
  EXPECT_EQ(report.bytesRead, 5000u);

  // Empty, oversized and missing files are refused whichever the rule, and nothing stays open.
  mem.failLength = false;
  mem.files["empty.bin"] = {};
  mem.files["big.bin"] = std::vector<std::uint8_t>(kFullImageSize + 1, 0);
  for (const PartialFile partial : {PartialFile::Refuse, PartialFile::TakeWhatArrives}) {
    EXPECT_EQ(ReadFirmwareFile(mem, "empty.bin", buffer, report, partial), 0);
    EXPECT_EQ(report.failure, LoadFailure::Empty);
    EXPECT_EQ(ReadFirmwareFile(mem, "big.bin", buffer, report, partial), 0);
    EXPECT_EQ(report.failure, LoadFailure::TooLarge);
    EXPECT_EQ(ReadFirmwareFile(mem, "none.bin", buffer, report, partial), 0);
    EXPECT_EQ(report.failure, LoadFailure::OpenFailed);
    EXPECT_EQ(report.fileError, FileError::NotFound);
  }
  EXPECT_EQ(mem.openHandles, 0);
}

TEST(FileExtension, TextAfterTheFirstFullStop) {
  EXPECT_EQ(FileExtension("FW.KVF"), "KVF");
  EXPECT_EQ(FileExtension("a.b.kvf"), "b.kvf");
  EXPECT_EQ(FileExtension("kvf"), "kvf");
  EXPECT_EQ(FileExtension("name."), "");
  EXPECT_TRUE(IsKvfExtension("x.kVf"));
  EXPECT_TRUE(IsKvfExtension("kvf"));  // a name without a full stop is its own extension
  EXPECT_FALSE(IsKvfExtension("x.kvfx"));
  EXPECT_FALSE(IsKvfExtension("x.kv"));
  EXPECT_FALSE(IsKvfExtension("x.bin"));
  // The row decides which extension fits: row 7 (QDX52) is encoded, row 5 (QDX50) is not.
  EXPECT_TRUE(NameFitsRow("NEW.kvf", 7));
  EXPECT_FALSE(NameFitsRow("NEW.BIN", 7));
  EXPECT_FALSE(NameFitsRow("new.v2.kvf", 7));
  EXPECT_TRUE(NameFitsRow("new.v2.kvf", kRowQdx50));
  EXPECT_FALSE(NameFitsRow("NEW.KVF", kRowQdx50));
  // Only the base name counts: a directory part with or without full stops does not.
  EXPECT_EQ(FileExtension("./CW7240V132.KVF"), "KVF");
  EXPECT_EQ(FileExtension("fw.d/NEW.BIN"), "BIN");
  EXPECT_EQ(FileExtension("fw.d\\NEW"), "NEW");
  EXPECT_TRUE(NameFitsRow("./NEW.kvf", 7));
  EXPECT_TRUE(NameFitsRow("fw.kvf/NEW.BIN", kRowQdx50));
}

// Plain and byte-keyed files are exactly the image; a packed one up to 1 MiB.
TEST(FileExtension, SizeFitsRowByTheRowsForm) {
  EXPECT_TRUE(SizeFitsRow(PlainImageSize(4), kRowQdx50));
  EXPECT_FALSE(SizeFitsRow(PlainImageSize(4) - 1, kRowQdx50));
  EXPECT_FALSE(SizeFitsRow(PlainImageSize(5) / 2, kRowQdx55));
  EXPECT_TRUE(SizeFitsRow(1, kRowQdx71));
  EXPECT_FALSE(SizeFitsRow(kFullImageSize + 1, kRowQdx71));
}

TEST(FileExtension, ConvertsRuleTakesTheTextAfterTheLastFullStopOfTheBaseName) {
  EXPECT_EQ(LastExtension("a.v2.KVF"), "kvf");  // where the loader sees "v2.KVF"
  EXPECT_EQ(LastExtension("dir.d/FW.Bin"), "bin");
  EXPECT_EQ(LastExtension("dir.d/FW"), "");
  EXPECT_EQ(LastExtension("dir.d\\FW"), "");
  EXPECT_EQ(LastExtension("kvf"), "");  // no full stop, no extension
  EXPECT_EQ(LastExtension("name."), "");
}

TEST(FileFormConversion, BackupFormsRoundTrip) {
  auto buffer = NewImageBuffer();
  const auto plain5 = MakePlainImage(5, "QDX52", "backup", 9);
  std::copy(plain5.begin(), plain5.end(), buffer->begin());
  std::size_t length = plain5.size();
  ASSERT_EQ(EncodeImageForFile(*buffer, length, 5, 5), 1);
  EXPECT_EQ(length, plain5.size());
  EXPECT_FALSE(std::equal(plain5.begin(), plain5.end(), buffer->begin()));
  ASSERT_EQ(DecodeImageFromFile(*buffer, length, 5, 5), 1);
  EXPECT_TRUE(std::equal(plain5.begin(), plain5.end(), buffer->begin()));

  const auto plain7 = MakePlainImage(7, "QDX64", "backup", 9);
  std::copy(plain7.begin(), plain7.end(), buffer->begin());
  length = plain7.size();
  ASSERT_EQ(EncodeImageForFile(*buffer, length, 7, 7), 1);
  EXPECT_LT(length, plain7.size());
  EXPECT_EQ((length - 16392) % 1024, 0u);
  ASSERT_EQ(DecodeImageFromFile(*buffer, length, 7, 7), 1);
  EXPECT_EQ(length, std::size_t{kFullImageSize});
  EXPECT_TRUE(std::equal(plain7.begin(), plain7.end(), buffer->begin()));
}

TEST(FileFormConversion, RefusalsLeaveBufferAndLengthAsTheyWere) {
  auto buffer = NewImageBuffer();
  auto plain = MakePlainImage(8, "KZTR1", "refuse", 4);
  plain[0x7000] = 0x00;  // not erased: cannot be packed
  std::copy(plain.begin(), plain.end(), buffer->begin());
  std::size_t length = plain.size();
  EXPECT_EQ(EncodeImageForFile(*buffer, length, 8, 8), 0);
  EXPECT_EQ(length, plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), buffer->begin()));
  // A source family without encoded files, or a drive family below 5.
  for (auto [source, drive] : {std::pair{4, 8}, std::pair{0, 5}, std::pair{8, 4}, std::pair{9, 8}}) {
    EXPECT_EQ(EncodeImageForFile(*buffer, length, static_cast<std::uint8_t>(source), drive), 0);
    EXPECT_EQ(DecodeImageFromFile(*buffer, length, static_cast<std::uint8_t>(source), drive), 0);
    EXPECT_EQ(length, plain.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), buffer->begin()));
  }
  // A length beyond the buffer is refused rather than trusted.
  std::size_t tooLong = kFullImageSize + 1;
  EXPECT_EQ(EncodeImageForFile(*buffer, tooLong, 5, 5), 0);
  EXPECT_EQ(DecodeImageFromFile(*buffer, tooLong, 5, 5), 0);
}

TypeCode Code(const char* six) {
  TypeCode c{};
  std::memcpy(c.data(), six, 6);
  return c;
}
PassKey Key(const char* eight) {
  PassKey k{};
  std::memcpy(k.data(), eight, std::min<std::size_t>(std::strlen(eight), 8));
  return k;
}

TEST(CheckTypeCode, EqualPrefixNeedsPassTypeAndABlankDriveTakesAnything) {
  TypeCodeCheck check;
  check.driveTypeCode = Code("QDX701");
  check.sourceTypeCode = Code("QDX701");
  EXPECT_TRUE(CheckTypeCode(check));

  check.sourceTypeCode = Code("QDX702");
  check.typePassKey = Key("SECRET12");
  EXPECT_FALSE(CheckTypeCode(check));
  check.passTypeCheck = 1;
  EXPECT_FALSE(CheckTypeCode(check));  // no entry
  check.passwordEntry = "SECRET1";
  EXPECT_FALSE(CheckTypeCode(check));
  check.passwordEntry = "SECRET12";
  EXPECT_TRUE(CheckTypeCode(check));
  check.passwordEntry = "SECRET12 and more";
  EXPECT_TRUE(CheckTypeCode(check));
  check.passwordEntry = "secret12";
  EXPECT_FALSE(CheckTypeCode(check));
  check.passTypeCheck = 0;
  check.passwordEntry = "SECRET12";
  EXPECT_FALSE(CheckTypeCode(check));

  // Different in the first four: no password helps.
  check.passTypeCheck = 1;
  check.sourceTypeCode = Code("QDX601");
  EXPECT_FALSE(CheckTypeCode(check));
  check.driveTypeCode = Code("\xFF\xFF\xFF\xFF\xFF\xFF");
  EXPECT_TRUE(CheckTypeCode(check));
  check.driveTypeCode = Code("\xFF\xFF\xFF\xFF\xFF\xFE");
  EXPECT_FALSE(CheckTypeCode(check));
}

TEST(CheckTypeCode, PassKeyOfFewerThanEightCharactersNeverMatches) {
  EXPECT_FALSE(PassKeyMatches("", Key("")));
  EXPECT_FALSE(PassKeyMatches("        ", Key("")));
  EXPECT_FALSE(PassKeyMatches("ABC", Key("ABC")));
  EXPECT_TRUE(PassKeyMatches("        ", Key("        ")));
  EXPECT_TRUE(PassKeyMatches("ABCDEFGHIJ", Key("ABCDEFGH")));
}

}  // namespace
}  // namespace orvel
