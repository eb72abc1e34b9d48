// Header reads and image record derivation over generated images of every form.
#include "app/image_file.h"

#include <gtest/gtest.h>

#include "app/image_builder.h"

namespace veltran {
namespace {

using testing::FallbackImage;
using testing::FixedHeaderImage;
using testing::HeaderFields;
using testing::TempFolder;
using testing::TrailerImage;

ImageRecord LoadAutomatically(const std::vector<std::uint8_t>& file,
                              LoadOutcome* outcome = nullptr) {
  ImageRecord record;
  const LoadOutcome result = DeriveAutomaticLoad(record, ReadImageBytes(file));
  if (outcome) *outcome = result;
  return record;
}

TEST(HeaderRead, TrailerFormReadsTheHeader48BytesBeforeTheEnd) {
  const auto read = ReadImageBytes(TrailerImage(131072, {.revision = "NB02"}));
  ASSERT_EQ(read.status, ImageReadStatus::kRead);
  EXPECT_EQ(read.place, HeaderPlace::kTrailer);
  EXPECT_EQ(read.size, 131072);
  ASSERT_TRUE(read.header);
  EXPECT_EQ(read.header->bytes[24], 'N');
  EXPECT_EQ(read.header->blockSizeKB(), 32);
  EXPECT_EQ(read.header->blockCount(), 4);
}

TEST(HeaderRead, TrailerStartingWithFFTakesTheHeader64KEarlier) {
  // The last 64 KB are all 0xFF: the header is at 131072 - 65584 = 65488.
  const auto image = FallbackImage(131072, {.revision = "NA07"});
  ASSERT_EQ(image[65488 + 24], 'N');
  const auto read = ReadImageBytes(image);
  EXPECT_EQ(read.place, HeaderPlace::kTrailer64KEarlier);
  ASSERT_TRUE(read.header);
  EXPECT_EQ(read.header->bytes[27], '7');
  const ImageRecord record = LoadAutomatically(image);
  EXPECT_EQ(record.ImageRevision, "NA07");
  EXPECT_EQ(record.ImageSize, 131072);
}

TEST(HeaderRead, SignatureSelectsTheFixedHeader) {
  const auto read = ReadImageBytes(FixedHeaderImage(196608, {.revision = "KP01"}));
  EXPECT_EQ(read.place, HeaderPlace::kFixedHeader);
  ASSERT_TRUE(read.header);
  EXPECT_EQ(read.header->bytes[24], 'K');
}

TEST(HeaderRead, FileTooShortForTheSignatureIsNoFixedHeaderFile) {
  // The signature bytes are there, but a file must reach 0xBF08 for the signature read.
  auto image = TrailerImage(0xBF07, {});
  testing::Place(image, 0xBF00, {0x05, 0x80, 0x00, 0x32});
  EXPECT_EQ(ReadImageBytes(image).place, HeaderPlace::kTrailer);
}

TEST(HeaderRead, FilesTooShortForTheirHeaderHaveNone) {
  EXPECT_FALSE(ReadImageBytes(testing::Filler(47)).header);
  EXPECT_TRUE(ReadImageBytes(testing::Filler(48)).header);
  auto fallback = testing::Filler(65583);
  fallback[65583 - 48] = 0xFF;
  const auto read = ReadImageBytes(fallback);
  EXPECT_EQ(read.place, HeaderPlace::kTrailer64KEarlier);
  EXPECT_FALSE(read.header);
  auto fixed = FixedHeaderImage(0xBF08 + 35, {});
  fixed.pop_back();
  EXPECT_FALSE(ReadImageBytes(fixed).header);
}

TEST(TrailerDerivation, TakesIdentityRevisionUpperCasePrefixAndType) {
  const ImageRecord record = LoadAutomatically(TrailerImage(
      131072,
      {.ident = "BRELMONTCDW/DVD NB-E615C", .revision = "kp03", .type = 4, .prefix = "kp "}));
  EXPECT_EQ(record.ImageIdent, "BRELMONTCDW/DVD NB-E615C");
  EXPECT_EQ(record.ImageRevision, "kp03");  // the revision is kept as written
  EXPECT_EQ(record.ImagePrefix, "KP ");
  EXPECT_EQ(record.ImageType, 4);
  EXPECT_FALSE(record.FixedHeaderImage);
  EXPECT_FALSE(record.Image64K);
  EXPECT_TRUE(record.ImagePresent);
  EXPECT_EQ(LoadAutomatically(TrailerImage(131072, {.type = 2})).ImageType, 1);
  EXPECT_EQ(LoadAutomatically(TrailerImage(131072, {.type = 0})).ImageType, 1);
}

struct LayoutCase {
  const char* name;
  std::size_t size;
  std::uint8_t blockSizeKB;
  std::uint8_t blockCount;
  bool sizeCheck;  // the plain size check
  bool accepted;   // with the layout limits
  const char* layout;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class TrailerLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(TrailerLayout, SizeCheckAndLimits) {
  const LayoutCase& c = GetParam();
  ImageRecord record;
  record.ImageSize = static_cast<std::int32_t>(c.size);
  record.BlockSizeKB = c.blockSizeKB;
  record.CommandCount = c.blockCount;
  EXPECT_EQ(SizeCheckPasses(record), c.sizeCheck);

  LoadOutcome outcome;
  const ImageRecord loaded = LoadAutomatically(
      TrailerImage(c.size, {.blockSizeKB = c.blockSizeKB, .blockCount = c.blockCount}), &outcome);
  EXPECT_EQ(outcome.status, c.accepted ? LoadStatus::kLoaded : LoadStatus::kRefused);
  EXPECT_EQ(LayoutText(loaded), c.layout);
  if (c.accepted) {
    EXPECT_EQ(loaded.ImageSize, static_cast<std::int32_t>(c.size));
    EXPECT_FALSE(outcome.message);
  } else {
    EXPECT_EQ(loaded.ImageSize, 0);
    EXPECT_FALSE(loaded.ImagePresent);
    EXPECT_EQ(outcome.message, std::string("File Open Fail (No Flash File) !!\n") + c.layout);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, TrailerLayout,
    ::testing::Values(
        LayoutCase{"WholeBlocks", 131072, 32, 4, true, true, "32768b 32Kb 4Cmd"},
        LayoutCase{"ShortLastBlock", 100 * 1024, 32, 4, true, true, "32768b 4Kb 4Cmd"},
        LayoutCase{"NotWholeKB", 131073, 32, 4, false, false, "32768b 32Kb 4Cmd"},
        LayoutCase{"TooFewBlocks", 300 * 1024, 32, 2, false, false, "32768b 12Kb 2Cmd"},
        LayoutCase{"OneBlock", 40 * 1024, 32, 1, true, true, "32768b 40Kb 1Cmd"},
        LayoutCase{"OneBlockNoSize", 40 * 1024, 0, 1, true, true, "0b 40Kb 1Cmd"},
        // Count 0 passes the size check when size div 1024 + block size is below 256...
        LayoutCase{"NoBlocks", 16 * 1024, 32, 0, true, false, "32768b 48Kb 0Cmd"},
        LayoutCase{"NoBlocksOver256", 240 * 1024, 32, 0, false, false, "32768b 16Kb 0Cmd"},
        LayoutCase{"SeveralBlocksNoSize", 40 * 1024, 0, 2, true, false, "0b 40Kb 2Cmd"},
        LayoutCase{"BlockLargerThanBuffer", 192 * 1024, 128, 2, true, false, "131072b 64Kb 2Cmd"},
        LayoutCase{"LastBlockLargerThanBuffer", 132 * 1024, 32, 2, true, false,
                   "32768b 100Kb 2Cmd"},
        LayoutCase{"BlocksOfExactly64K", 192 * 1024, 64, 3, true, true, "65536b 64Kb 3Cmd"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(TrailerDerivation, ShortFilesAreRefusedWithTheFiguresDerived) {
  LoadOutcome outcome;
  ImageRecord record = LoadAutomatically(testing::Filler(40), &outcome);
  EXPECT_EQ(outcome.status, LoadStatus::kRefused);
  EXPECT_EQ(outcome.message, "File Open Fail (No Flash File) !!\n0b 0Kb 0Cmd");
  EXPECT_EQ(record.ImageSize, 0);

  auto fallback = testing::Filler(60 * 1024);
  fallback[60 * 1024 - 48] = 0xFF;
  record = LoadAutomatically(fallback, &outcome);
  EXPECT_EQ(outcome.status, LoadStatus::kRefused);
  EXPECT_EQ(outcome.message, "File Open Fail (No Flash File) !!\n0b 60Kb 0Cmd");
  EXPECT_FALSE(record.ImagePresent);
}

TEST(TrailerDerivation, The64KImageIsNeverSizeChecked) {
  // Figures that could never pass: the 64 KB image has its own layout.
  LoadOutcome outcome;
  const ImageRecord record =
      LoadAutomatically(TrailerImage(65536, {.blockSizeKB = 200, .blockCount = 9}), &outcome);
  EXPECT_EQ(outcome.status, LoadStatus::kLoaded);
  EXPECT_TRUE(record.Image64K);
  EXPECT_EQ(record.ImageSize, 65536);
  EXPECT_EQ(record.BlockSizeKB, 200);  // the automatic load takes them in every case
  EXPECT_EQ(record.CommandCount, 9);
  EXPECT_FALSE(LoadAutomatically(TrailerImage(65537, {})).Image64K);
}

TEST(ManualDerivation, The64KImageKeepsThePreviousBlockFigures) {
  ImageRecord record;
  ASSERT_EQ(DeriveManualOpen(record, ReadImageBytes(TrailerImage(131072, {}))).status,
            LoadStatus::kLoaded);
  ASSERT_EQ(record.LastBlockKB, 32);
  const auto outcome = DeriveManualOpen(
      record, ReadImageBytes(
                  TrailerImage(65536, {.revision = "NB09", .blockSizeKB = 200, .blockCount = 9})));
  EXPECT_EQ(outcome.status, LoadStatus::kLoaded);
  EXPECT_TRUE(record.Image64K);
  EXPECT_EQ(record.ImageRevision, "NB09");
  EXPECT_EQ(record.BlockSizeKB, 32);
  EXPECT_EQ(record.CommandCount, 4);
  EXPECT_EQ(record.LastBlockKB, 32);
}

TEST(ManualDerivation, RefusalLeavesImagePresentAlone) {
  ImageRecord record;
  record.ImagePresent = true;
  const auto outcome = DeriveManualOpen(record, ReadImageBytes(TrailerImage(131073, {})));
  EXPECT_EQ(outcome.status, LoadStatus::kRefused);
  EXPECT_EQ(record.ImageSize, 0);
  EXPECT_TRUE(record.ImagePresent);
}

TEST(ManualDerivation, EachFileIsDescribedOnlyByItself) {
  ImageRecord record;
  // A fixed-header file is recognised by the manual open too.
  ASSERT_EQ(DeriveManualOpen(
                record, ReadImageBytes(FixedHeaderImage(
                            196608, {.ident = "BRELMONTDVD+-RW NB-P643B", .revision = "KP01"})))
                .status,
            LoadStatus::kLoaded);
  EXPECT_TRUE(record.FixedHeaderImage);
  EXPECT_EQ(record.ImagePrefix, "KP ");
  EXPECT_EQ(record.CommandCount, 6);
  // The next trailer-form file clears the fixed-header identification.
  ASSERT_EQ(DeriveManualOpen(record, ReadImageBytes(TrailerImage(131072, {}))).status,
            LoadStatus::kLoaded);
  EXPECT_FALSE(record.FixedHeaderImage);
  EXPECT_EQ(record.ImageIdent, "BRELMONTCDW/DVD GA-W837C");
  EXPECT_EQ(record.ImagePrefix, "NB ");
  EXPECT_EQ(record.ImageType, 1);
  // A file too short for a header leaves nothing of the one before.
  EXPECT_EQ(DeriveManualOpen(record, ReadImageBytes(testing::Filler(30))).status,
            LoadStatus::kRefused);
  EXPECT_NE(record.ImageIdent, "BRELMONTCDW/DVD GA-W837C");
  EXPECT_EQ(record.CommandCount, 0);
}

TEST(FixedHeaderDerivation, TakesPrefixFromRevisionAndCountsWholeBlocks) {
  LoadOutcome outcome;
  const ImageRecord record =
      LoadAutomatically(FixedHeaderImage(200000, {.ident = "BRELMONTCDW/DVD NB-E615C",
                                                  .revision = "kp05",
                                                  .blockSizeKB = 7,
                                                  .blockCount = 7,
                                                  .type = 1,
                                                  .prefix = "ZZ "}),
                        &outcome);
  EXPECT_EQ(outcome.status, LoadStatus::kLoaded);
  EXPECT_TRUE(record.FixedHeaderImage);
  EXPECT_FALSE(record.Image64K);
  EXPECT_EQ(record.ImagePrefix, "KP ");
  EXPECT_EQ(record.ImageType, 4);
  EXPECT_EQ(record.BlockSizeKB, 32);
  EXPECT_EQ(record.CommandCount, 6);  // 200000 div 32768, truncated
  EXPECT_EQ(record.ImageSize, 200000);
}

TEST(FixedHeaderDerivation, ReducesOneModelAbove256K) {
  const HeaderFields model{.ident = "BRELMONTDVD+-RW NB-P643B", .revision = "KP02"};
  ImageRecord record = LoadAutomatically(FixedHeaderImage(327680, model));
  EXPECT_EQ(record.ImageSize, 262144);
  EXPECT_EQ(record.CommandCount, 8);
  record = LoadAutomatically(FixedHeaderImage(262144, model));
  EXPECT_EQ(record.ImageSize, 262144);
  EXPECT_EQ(record.CommandCount, 8);
  record = LoadAutomatically(FixedHeaderImage(327680, {.ident = "BRELMONTDVD+-RW NB-P643C"}));
  EXPECT_EQ(record.ImageSize, 327680);
  EXPECT_EQ(record.CommandCount, 10);
}

TEST(FixedHeaderDerivation, NoOemSubstitution) {
  const ImageRecord record = LoadAutomatically(
      FixedHeaderImage(131072, {.ident = "DARLOWE CD-R/RW LN-590B ", .revision = "BM01"}));
  EXPECT_EQ(record.ImageIdent, "DARLOWE CD-R/RW LN-590B ");
}

TEST(FixedHeaderDerivation, RefusedWithoutAWholeBlockOrHeader) {
  ImageRecord record;
  record.ImageSize = 30000;
  EXPECT_FALSE(DeriveFixedHeaderForm(record, ImageHeader{}));
  EXPECT_EQ(record.CommandCount, 0);

  auto image = FixedHeaderImage(0xBF08 + 35, {});
  image.pop_back();
  LoadOutcome outcome;
  record = LoadAutomatically(image, &outcome);
  EXPECT_EQ(outcome.status, LoadStatus::kRefused);
  EXPECT_EQ(outcome.message, "File Open Fail (No Flash File) !!\n32768b 0Kb 1Cmd");
}

struct OemCase {
  std::string_view ident;
  std::string_view revision;
  std::string_view expected;
};

TEST(OemSubstitution, ThreeRulesInOrder) {
  const OemCase cases[] = {
      {"DARLOWE CD-R/RW LN-590B ", "BM12", "MUSTOVIA CD-RW VX7120E  "},
      {"DARLOWE CD-R/RW LN-590F ", "FM03", "MUSTOVIA CD-RW VX7160E  "},
      {"DARLOWE CD-R/RW LN-590B ", "BZ01", "ZEK     CD-R/RW LN-590B "},
      {"DARLOWE CD-R/RW LN-590B ", "FM03", "DARLOWE CD-R/RW LN-590B "},
      {"DARLOWE CD-R/RW LN-590F ", "BM12", "DARLOWE CD-R/RW LN-590F "},
      {"DARLOWE CD-R/RW LN-590B ", "bm12", "DARLOWE CD-R/RW LN-590B "},
      {"DARLOWE CD-R/RW LN-590F ", "BZ01", "DARLOWE CD-R/RW LN-590F "},
      {"MUSTOVIA CD-RW VX7120E  ", "BZ01", "MUSTOVIA CD-RW VX7120E  "},
  };
  for (const OemCase& c : cases) {
    const ImageRecord record =
        LoadAutomatically(TrailerImage(131072, {.ident = c.ident, .revision = c.revision}));
    EXPECT_EQ(record.ImageIdent, c.expected) << c.ident << " " << c.revision;
  }
}

TEST(ImageFile, ReadsFilesLikeMemory) {
  TempFolder folder;
  const auto image = FallbackImage(196608, {.revision = "NB03"});
  testing::WriteFile(folder.path() / "a.bin", image);
  const auto fromFile = ReadImageFile(folder.Utf8("a.bin"));
  const auto fromMemory = ReadImageBytes(image);
  ASSERT_EQ(fromFile.status, ImageReadStatus::kRead);
  EXPECT_EQ(fromFile.size, fromMemory.size);
  EXPECT_EQ(fromFile.place, fromMemory.place);
  ASSERT_TRUE(fromFile.header);
  EXPECT_EQ(fromFile.header->bytes, fromMemory.header->bytes);
}

TEST(ImageFile, OpensPathsWithNonAsciiFolders) {
  TempFolder folder;
  const std::string sub = "Firmware \xC3\xA9t\xC3\xA9 \xE6\x9B\xB4\xE6\x96\xB0";
  std::filesystem::create_directories(folder.path() / std::u8string(sub.begin(), sub.end()));
  const std::string path = folder.Utf8(std::u8string(sub.begin(), sub.end())) + "/new.bin";
  testing::WriteFile(std::filesystem::path(std::u8string(path.begin(), path.end())),
                     TrailerImage(131072, {}));
  ImageRecord record;
  EXPECT_EQ(DeriveManualOpen(record, ReadImageFile(path)).status, LoadStatus::kLoaded);
  EXPECT_EQ(DisplayName(path), "NEW.BIN");
}

TEST(ImageFile, MissingFileIsNotOpened) {
  TempFolder folder;
  const auto read = ReadImageFile(folder.Utf8("missing.bin"));
  EXPECT_EQ(read.status, ImageReadStatus::kNotOpened);
  ImageRecord record;
  record.ImageSize = 4096;
  LoadOutcome outcome = DeriveAutomaticLoad(record, read);
  EXPECT_EQ(outcome.status, LoadStatus::kNotOpened);
  EXPECT_FALSE(outcome.message);
  EXPECT_EQ(record.ImageSize, 0);
  EXPECT_FALSE(record.ImagePresent);
  outcome = DeriveManualOpen(record, read);
  EXPECT_EQ(outcome.message, "File Not Opened!!");
}

TEST(ImageFile, FolderIsRefusedLikeAFailedSizeCheck) {
  TempFolder folder;
  std::filesystem::create_directory(folder.path() / "AUTORUN.BIN");
  const auto read = ReadImageFile(folder.Utf8("AUTORUN.BIN"));
  EXPECT_EQ(read.status, ImageReadStatus::kUnusable);
  ImageRecord record;
  const LoadOutcome outcome = DeriveAutomaticLoad(record, read);
  EXPECT_EQ(outcome.status, LoadStatus::kRefused);
  EXPECT_EQ(outcome.message, "File Open Fail (No Flash File) !!\n0b 0Kb 0Cmd");
  EXPECT_FALSE(record.ImagePresent);
  EXPECT_EQ(record.ImageSize, 0);
}

TEST(ImageFile, FilesOf2GiBOrMoreAreRefused) {
  TempFolder folder;
  const auto path = folder.path() / "huge.bin";
  testing::WriteFile(path, TrailerImage(131072, {}));
  std::filesystem::resize_file(path, std::uintmax_t{1} << 31);  // sparse where the system can
  const auto read = ReadImageFile(folder.Utf8("huge.bin"));
  EXPECT_EQ(read.status, ImageReadStatus::kUnusable);
  ImageRecord record;
  EXPECT_EQ(DeriveManualOpen(record, read).status, LoadStatus::kRefused);
  EXPECT_EQ(record.ImageSize, 0);
}

TEST(FieldTexts, DisplayNameAndDownloadFile) {
  EXPECT_EQ(DisplayName("some/folder/new_fw-x.bin"), "NEW_FW-X.BIN");
  EXPECT_EQ(DownloadFileText("AUTORUN.BIN", 131072), "AUTORUN.BIN (128 K)");
  EXPECT_EQ(DownloadFileText("A.BIN", 2047), "A.BIN (1 K)");
}

TEST(FixedNames, LookupIgnoresLetterCaseButPrefersAnExactMatch) {
  TempFolder folder;
  const std::string dir = folder.Utf8("");
  EXPECT_FALSE(FindFixedName(dir, "AUTORUN.BIN"));
  testing::WriteFile(folder.path() / "autorun.bin", {1});
  EXPECT_EQ(FindFixedName(dir, "AUTORUN.BIN"), "autorun.bin");
  testing::WriteFile(folder.path() / "AUTORUN.BIN", {1});
  // Only a case-sensitive filesystem holds two files now; the exact name is then the one.
  const auto entries = std::distance(std::filesystem::directory_iterator(folder.path()),
                                     std::filesystem::directory_iterator());
  EXPECT_EQ(FindFixedName(dir, "AUTORUN.BIN"), entries == 2 ? "AUTORUN.BIN" : "autorun.bin");
  EXPECT_FALSE(FindFixedName(dir, "AUTORUN.BI"));
}

TEST(FixedNames, AutorunIsFoundInTheWorkingDirectoryInAnyLetterCase) {
  TempFolder folder;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  EXPECT_FALSE(AutorunPresent());
  EXPECT_EQ(ReadAutorunImage().status, ImageReadStatus::kNotOpened);
  testing::WriteFile("Autorun.Bin", TrailerImage(131072, {.revision = "NB07"}));
  EXPECT_TRUE(AutorunPresent());
  ImageRecord record;
  EXPECT_EQ(DeriveAutomaticLoad(record, ReadAutorunImage()).status, LoadStatus::kLoaded);
  EXPECT_EQ(record.ImageRevision, "NB07");
  EXPECT_EQ(record.ImagePath, "AUTORUN.BIN");  // the name shown stays the tool's own
  std::filesystem::current_path(previous);
}

TEST(Inspection, ReportsFormLayoutAndRefusal) {
  TempFolder folder;
  testing::WriteFile(folder.path() / "ok.bin", TrailerImage(131072, {}));
  testing::WriteFile(folder.path() / "ff.bin", FallbackImage(131072, {}));
  testing::WriteFile(folder.path() / "fixed.bin", FixedHeaderImage(131072, {}));
  testing::WriteFile(folder.path() / "bad.bin", TrailerImage(131073, {}));

  ImageInspection inspection = InspectImageFile(folder.Utf8("ok.bin"));
  EXPECT_EQ(inspection.form, "trailer");
  EXPECT_EQ(inspection.layoutText, "32768b 32Kb 4Cmd");
  EXPECT_TRUE(inspection.sizeCheckPassed);
  EXPECT_FALSE(inspection.refusal);
  EXPECT_EQ(inspection.record.ImageIdent, "BRELMONTCDW/DVD GA-W837C");

  EXPECT_EQ(InspectImageFile(folder.Utf8("ff.bin")).form, "trailer, header 64 KB earlier");
  inspection = InspectImageFile(folder.Utf8("fixed.bin"));
  EXPECT_EQ(inspection.form, "fixed header");
  EXPECT_TRUE(inspection.record.FixedHeaderImage);
  EXPECT_TRUE(inspection.sizeCheckPassed);

  inspection = InspectImageFile(folder.Utf8("bad.bin"));
  EXPECT_FALSE(inspection.sizeCheckPassed);
  EXPECT_EQ(inspection.record.ImageSize, 131073);  // as derived, before the refusal
  EXPECT_EQ(inspection.refusal, "File Open Fail (No Flash File) !!\n32768b 32Kb 4Cmd");

  inspection = InspectImageFile(folder.Utf8("none.bin"));
  EXPECT_EQ(inspection.refusal, "File Not Opened!!");
}

}  // namespace
}  // namespace veltran
