// The compatibility rules of the automatic drive choice and of the manual open, table-driven.
#include "app/rules.h"

#include <gtest/gtest.h>

namespace veltran {
namespace {

constexpr std::string_view kModel = "BRELMONTCDW/DVD GA-W837C";
constexpr std::string_view kOther = "BRELMONTCDW/DVD NB-E615C";
constexpr std::string_view kHalden = "HALDEN  DVD-ROM KQ-304B ";
constexpr std::string_view kComModel = "DARLOWE CDRW/DVD PT-771B";

struct Image {
  std::string_view ident = kModel;
  std::string_view revision = "NB05";
  std::string_view prefix = "NB ";
  int type = 1;
};

struct Drive {
  std::string_view ident = kModel;
  std::string_view revision = "NB05";
  std::string_view prefix = "NB ";
  bool prefixReported = false;
  bool bootMode = false;
  bool comVariant = false;
};

ImageRecord MakeImage(const Image& image) {
  ImageRecord record;
  record.ImageIdent.Assign(image.ident);
  record.ImageRevision.Assign(image.revision);
  record.ImagePrefix.Assign(image.prefix);
  record.ImageType = image.type;
  record.ImageSize = 131072;
  return record;
}

DriveIdentity MakeDrive(const Drive& drive) {
  DriveIdentity identity;
  identity.DriveIdent.Assign(drive.ident);
  identity.DriveRevision.Assign(drive.revision);
  identity.DrivePrefix.Assign(drive.prefix);
  identity.DrivePrefixReported = drive.prefixReported;
  identity.BootModeDrive = drive.bootMode;
  identity.ComVariantDrive = drive.comVariant;
  return identity;
}

struct FitCase {
  const char* name;
  Image image;
  Drive drive;
  bool fits;
};

void PrintTo(const FitCase& c, std::ostream* os) { *os << c.name; }

class AutomaticChoice : public ::testing::TestWithParam<FitCase> {};

TEST_P(AutomaticChoice, DriveFits) {
  const FitCase& c = GetParam();
  EXPECT_EQ(DriveFits(MakeDrive(c.drive), MakeImage(c.image)), c.fits);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, AutomaticChoice,
    ::testing::Values(
        FitCase{"SameModel", {}, {}, true},
        FitCase{"SameModelOlderRevision", {.revision = "NB09"}, {.revision = "NB01"}, true},
        FitCase{"OtherModel", {}, {.ident = kOther}, false},
        FitCase{"Type4SamePrefix", {.prefix = "KP ", .type = 4}, {.prefix = "KP "}, true},
        FitCase{"Type4OtherPrefix", {.prefix = "KP ", .type = 4}, {.prefix = "NB "}, false},
        FitCase{"Type4OtherPrefixBootMode",
                {.prefix = "KP ", .type = 4},
                {.revision = "BOOT", .prefix = "NB ", .bootMode = true},
                false},
        FitCase{"Type1OtherPrefix", {.prefix = "KP "}, {.prefix = "NB "}, true},
        FitCase{"HaldenSecondCharacterDiffers",
                {.ident = kModel, .revision = "1B00"},
                {.ident = kHalden, .revision = "1A00"},
                true},
        FitCase{"HaldenSecondCharacterSame",
                {.ident = kModel, .revision = "1A07"},
                {.ident = kHalden, .revision = "2A00"},
                false},
        FitCase{"HaldenMismatchStillNeedsPrefix",
                {.ident = kModel, .revision = "1B00", .prefix = "KP ", .type = 4},
                {.ident = kHalden, .revision = "1A00", .prefix = "NB "},
                false},
        FitCase{"OtherModelSecondCharacterDiffers",
                {.revision = "1B00"},
                {.ident = kOther, .revision = "1A00"},
                false}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(AutomaticChoice, OemRevisionMismatchOnlyForOneModel) {
  const ImageRecord image = MakeImage({.revision = "1B00"});
  EXPECT_TRUE(OemRevisionMismatch(MakeDrive({.ident = kHalden, .revision = "1A00"}), image));
  EXPECT_FALSE(OemRevisionMismatch(MakeDrive({.ident = kHalden, .revision = "9B99"}), image));
  EXPECT_FALSE(OemRevisionMismatch(MakeDrive({.ident = kOther, .revision = "1A00"}), image));
}

TEST(AutomaticChoice, GivesUpTheR350ComModel) {
  EXPECT_TRUE(IsGivenUpDrive(MakeDrive({.ident = kComModel, .revision = "R350"})));
  EXPECT_FALSE(IsGivenUpDrive(MakeDrive({.ident = kComModel, .revision = "R351"})));
  EXPECT_FALSE(IsGivenUpDrive(MakeDrive({.ident = kModel, .revision = "R350"})));
  ImageRecord image = MakeImage({});
  image.ImagePresent = true;
  image.Image64K = true;
  GiveUpAutomaticImage(image);
  EXPECT_EQ(image.ImageSize, 0);
  EXPECT_FALSE(image.ImagePresent);
  EXPECT_FALSE(image.Image64K);
}

enum class Expect { kAccepted, kOldVersion, kComVariant, kIdentity, kPrefix };

struct ManualCase {
  const char* name;
  Image image;
  Drive drive;
  bool noCheck;
  Expect expect;
};

void PrintTo(const ManualCase& c, std::ostream* os) { *os << c.name; }

class ManualOpen : public ::testing::TestWithParam<ManualCase> {};

TEST_P(ManualOpen, Verdict) {
  const ManualCase& c = GetParam();
  const ManualVerdict verdict = JudgeManualOpen(MakeImage(c.image), MakeDrive(c.drive), c.noCheck);
  switch (c.expect) {
    case Expect::kAccepted:
      EXPECT_TRUE(verdict.accepted);
      EXPECT_FALSE(verdict.message);
      EXPECT_FALSE(verdict.oldVersionWarning);
      break;
    case Expect::kOldVersion:
      EXPECT_TRUE(verdict.accepted);
      EXPECT_EQ(verdict.message, "Old Version Opened!!");
      EXPECT_TRUE(verdict.oldVersionWarning);
      break;
    case Expect::kComVariant:
      EXPECT_EQ(verdict.message, "You Must Download R351COM Version !!");
      break;
    case Expect::kIdentity:
      EXPECT_EQ(verdict.message, "This Firmware is not compatible with the selected drive.");
      break;
    case Expect::kPrefix:
      EXPECT_EQ(verdict.message,
                "This Firmware is not compatible with the selected drive.\n"
                "Contact your system manufacturer for information\n"
                "on firmware updates available for this drive.");
      break;
  }
  const bool refused = c.expect != Expect::kAccepted && c.expect != Expect::kOldVersion;
  EXPECT_EQ(verdict.accepted, !refused);
  EXPECT_EQ(verdict.resetFields, refused);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ManualOpen,
    ::testing::Values(
        ManualCase{"SameModelSameRevision", {}, {}, false, Expect::kAccepted},
        ManualCase{"NewerImage", {.revision = "NB06"}, {}, false, Expect::kAccepted},
        // COM variant: only an R351 image, and "-NOCHECK" does not lift it.
        ManualCase{"ComVariantOtherRevision",
                   {.ident = kComModel, .revision = "R350"},
                   {.ident = kComModel, .revision = "R350", .comVariant = true},
                   false,
                   Expect::kComVariant},
        ManualCase{"ComVariantOtherRevisionNoCheck",
                   {.ident = kOther, .revision = "R352"},
                   {.ident = kComModel, .revision = "R350", .comVariant = true},
                   true,
                   Expect::kComVariant},
        ManualCase{"ComVariantR351",
                   {.ident = kComModel, .revision = "R351"},
                   {.ident = kComModel, .revision = "R350", .comVariant = true},
                   false,
                   Expect::kAccepted},
        ManualCase{"ComVariantR351OtherModel",
                   {.ident = kOther, .revision = "R351"},
                   {.ident = kComModel, .revision = "R350", .comVariant = true},
                   false,
                   Expect::kIdentity},
        ManualCase{"OtherModel", {}, {.ident = kOther}, false, Expect::kIdentity},
        ManualCase{"OtherModelNoCheck", {}, {.ident = kOther}, true, Expect::kAccepted},
        ManualCase{"Type4OtherPrefix",
                   {.prefix = "KP ", .type = 4},
                   {.prefix = "NB "},
                   false,
                   Expect::kPrefix},
        ManualCase{"Type4OtherPrefixNoCheck",
                   {.prefix = "KP ", .type = 4},
                   {.prefix = "NB "},
                   true,
                   Expect::kAccepted},
        ManualCase{"Type4OtherPrefixBootMode",
                   {.prefix = "KP ", .type = 4},
                   {.revision = "BOOT", .prefix = "NB ", .bootMode = true},
                   false,
                   Expect::kAccepted},
        ManualCase{
            "Type1OtherPrefix", {.prefix = "KP "}, {.prefix = "NB "}, false, Expect::kAccepted},
        ManualCase{"HaldenNeedsSameIdentityHere",
                   {.revision = "1B00"},
                   {.ident = kHalden, .revision = "1A00"},
                   false,
                   Expect::kIdentity},
        // Downgrade warning: characters 2 to 4, or 3 and 4 when the drive reported its prefix.
        ManualCase{"OlderInLastCharacter",
                   {.revision = "NB04"},
                   {.revision = "NB05"},
                   false,
                   Expect::kOldVersion},
        ManualCase{"OlderOnlyInFirstCharacter",
                   {.revision = "AB05"},
                   {.revision = "NB05"},
                   false,
                   Expect::kAccepted},
        ManualCase{"OlderInSecondCharacter",
                   {.revision = "NA09"},
                   {.revision = "NB01"},
                   false,
                   Expect::kOldVersion},
        ManualCase{"SecondCharacterIgnoredWithReportedPrefix",
                   {.revision = "NA09"},
                   {.revision = "NB01", .prefixReported = true},
                   false,
                   Expect::kAccepted},
        ManualCase{"TwoCharactersDecideWithReportedPrefix",
                   {.revision = "NC04"},
                   {.revision = "NB05", .prefixReported = true},
                   false,
                   Expect::kOldVersion},
        ManualCase{"ThreeCharactersDecideOtherwise",
                   {.revision = "NC04"},
                   {.revision = "NB05"},
                   false,
                   Expect::kAccepted},
        ManualCase{"BytesCompareUnsigned",
                   {.revision = "NB0z"},
                   {.revision = "NB0\xE9"},
                   false,
                   Expect::kOldVersion},
        ManualCase{"BootModeNeverWarned",
                   {.revision = "NB01"},
                   {.revision = "NB05", .bootMode = true},
                   false,
                   Expect::kAccepted},
        ManualCase{"OlderWithNoCheck",
                   {.revision = "NB01"},
                   {.ident = kOther, .revision = "NB05"},
                   true,
                   Expect::kOldVersion}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Fields, AutomaticManualAndReset) {
  ImageRecord image = MakeImage({.revision = "NB06"});
  image.ImagePath = "AUTORUN.BIN";
  const DriveIdentity drive = MakeDrive({.revision = "NB05"});
  ImageFields fields = AutomaticLoadFields(image, drive);
  EXPECT_EQ(fields.modelName, kModel);
  EXPECT_EQ(fields.oldVersion, "NB05");
  EXPECT_EQ(fields.newVersion, "NB06");
  EXPECT_EQ(fields.downloadFile, "AUTORUN.BIN (128 K)");
  EXPECT_EQ(fields.status, "READY");

  image.ImagePath = "/media/cd/fw/ga_w837c.bin";
  fields = ManualOpenFields(image, drive);
  EXPECT_EQ(fields.downloadFile, "GA_W837C.BIN (128 K)");
  EXPECT_EQ(fields.status, "Ready");

  fields = ResetFields();
  EXPECT_EQ(fields.modelName, "");
  EXPECT_EQ(fields.oldVersion, "");
  EXPECT_EQ(fields.newVersion, "");
  EXPECT_EQ(fields.downloadFile, "Not Open");
  EXPECT_EQ(fields.status, "");
}

}  // namespace
}  // namespace veltran
