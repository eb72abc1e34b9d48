// Identification of the selected drive, checked through the resulting identity and the trace.
#include <gtest/gtest.h>

#include <cctype>

#include "drive/catalogue.h"
#include "support/virtual_rig.h"

namespace veltran {
namespace {

using testing::NtDrive;
using testing::VirtualRig;

std::string Inquiry(const std::string& vendor, const std::string& product,
                    const std::string& revision, const std::string& prefix = "NB ") {
  return R"({"peripheral": 5, "vendor": ")" + vendor + R"(", "product": ")" + product +
         R"(", "revision": ")" + revision + R"(", "prefix": ")" + prefix + R"("})";
}

// Scans, takes list position 0 and identifies it as a change of drive does.
DriveIdentity IdentifyFirst(VirtualRig& rig) {
  EXPECT_EQ(rig.transport().ScanDrives(), 1);
  EXPECT_EQ(rig.ctx().Send(0, Command::kInquiryList), kStatusGood);
  const std::string entry(reinterpret_cast<const char*>(&rig.buffer()[8]), 28);
  rig.ClearTrace();
  TakeListEntryIdentity(rig.identity(), entry);
  IdentifySelectedDrive(rig.ctx(), 0);
  return rig.identity();
}

TEST(IdentifyDrive, SendsInquiryVendorIdentifyInquiryAndTheRevisionRuleInquiry) {
  VirtualRig rig(NtDrive(Inquiry("BRELMONT", "CD-ROM  GA-R837C", "NB05"),
                         R"("vendor_identify_prefix": "KVR")"));
  const std::uint64_t before = rig.machine().clock().NowMs();
  IdentifyFirst(rig);
  EXPECT_EQ(rig.CommandsTraced(),
            (std::vector<std::string>{"0 120000006000 01", "0 ff00ff0000000000000000aa 01",
                                      "0 120000006000 01", "0 120000006000 01"}));
  EXPECT_EQ(rig.machine().clock().NowMs() - before, 100u);
}

TEST(IdentifyDrive, ReplyStarting0006GivesTheReportedPrefixUpperCased) {
  VirtualRig rig(NtDrive(Inquiry("BRELMONT", "CD-ROM  GA-R837C", "NB05", "ZZ "),
                         R"("vendor_identify_prefix": "kvr")"));
  const DriveIdentity id = IdentifyFirst(rig);
  EXPECT_EQ(id.DrivePrefix, "KVR");
  EXPECT_TRUE(id.DrivePrefixReported);
  EXPECT_EQ(id.DriveIdent, "BRELMONTCD-ROM  GA-R837C");
  EXPECT_EQ(id.DriveRevision, "NB05");
}

TEST(IdentifyDrive, RejectedVendorIdentifyTakesTheInquiryPrefixUpperCased) {
  VirtualRig rig(NtDrive(Inquiry("BRELMONT", "CD-ROM  GA-R837C", "NB05", "mv ")));
  const DriveIdentity id = IdentifyFirst(rig);
  EXPECT_EQ(id.DrivePrefix, "MV ");
  EXPECT_FALSE(id.DrivePrefixReported);
  EXPECT_EQ(rig.CommandsTraced()[1], "0 ff00ff0000000000000000aa 04");
}

struct AttentionCase {
  const char* name;
  const char* faults;  // commands: 1 scan, 2 list INQUIRY, 3 to 6 the identification
  std::vector<std::string> commands;
  const char* prefix;
};

void PrintTo(const AttentionCase& c, std::ostream* os) { *os << c.name; }

class UnitAttention : public ::testing::TestWithParam<AttentionCase> {};

// A drive that has just reset answers one command with UNIT ATTENTION without executing it: the
// identification asks once more, and comes to the identity of a drive that did not reset.
TEST_P(UnitAttention, IsAskedOnceMoreAndOnlyOnce) {
  const AttentionCase& c = GetParam();
  const std::string inquiry = Inquiry("BRELMONT", "CD-ROM  GA-R837C", "NB05");
  constexpr char kReported[] = R"("vendor_identify_prefix": "KVR")";
  VirtualRig plain(NtDrive(inquiry, kReported));
  const DriveIdentity expected = IdentifyFirst(plain);
  VirtualRig rig(NtDrive(inquiry, kReported + std::string(R"(, "faults": )") + c.faults));
  const DriveIdentity id = IdentifyFirst(rig);
  EXPECT_EQ(rig.CommandsTraced(), c.commands);
  EXPECT_EQ(id.DrivePrefix, c.prefix);
  EXPECT_EQ(id.DrivePrefixReported, id.DrivePrefix == expected.DrivePrefix);
  EXPECT_EQ(id.DriveIdent, expected.DriveIdent);
  EXPECT_EQ(id.DriveRevision, expected.DriveRevision);
  EXPECT_EQ(id.ComVariantDrive, expected.ComVariantDrive);
}

const std::string kInq = "0 120000006000 ";
const std::string kIdent = "0 ff00ff0000000000000000aa ";

INSTANTIATE_TEST_SUITE_P(
    Faults, UnitAttention,
    ::testing::Values(
        AttentionCase{"VendorIdentifyAfterReset",
                      R"([{"at": 4, "status": "check", "sense": [6, 41, 0]}])",
                      {kInq + "01", kIdent + "04", kIdent + "01", kInq + "01", kInq + "01"},
                      "KVR"},
        AttentionCase{"SecondInquiry",
                      R"([{"at": 5, "status": "check", "sense": [6, 41, 0]}])",
                      {kInq + "01", kIdent + "01", kInq + "04", kInq + "01", kInq + "01"},
                      "KVR"},
        // The retry met UNIT ATTENTION too: it stays a rejection, as without any retry.
        AttentionCase{"TwiceInARow",
                      R"([{"at": 4, "status": "check", "sense": [6, 41, 0]},
                          {"at": 5, "status": "check", "sense": [6, 41, 0]}])",
                      {kInq + "01", kIdent + "04", kIdent + "04", kInq + "01", kInq + "01"},
                      "NB "},
        AttentionCase{"OtherSenseKey",
                      R"([{"at": 4, "status": "check", "sense": [5, 36, 0]}])",
                      {kInq + "01", kIdent + "04", kInq + "01", kInq + "01"},
                      "NB "}),
    [](const ::testing::TestParamInfo<AttentionCase>& c) { return std::string(c.param.name); });

class RevisionPrefixIdentity : public ::testing::TestWithParam<const char*> {};

TEST_P(RevisionPrefixIdentity, PrefixComesFromTheRevisionEvenOverAReportedOne) {
  const std::string text = GetParam();
  VirtualRig rig(NtDrive(Inquiry(text.substr(0, 8), text.substr(8, 16), text.substr(24, 4), "XX "),
                         R"("vendor_identify_prefix": "KVR")"));
  const DriveIdentity id = IdentifyFirst(rig);
  EXPECT_EQ(id.DrivePrefix, text.substr(24, 2) + " ");
  EXPECT_TRUE(id.DrivePrefixReported);
}

INSTANTIATE_TEST_SUITE_P(FourIdentities, RevisionPrefixIdentity,
                         ::testing::Values("PELCARO CDW/DVD MVX4410CPD00",
                                           "BRELMONTCDW/DVD GA-W837CNB01",
                                           "BRELMONTCDW/DVD NB-E615CKP00",
                                           "BRELMONTCDW/DVD GA-W837CNA00"),
                         [](const ::testing::TestParamInfo<const char*>& identity) {
                           std::string name;
                           for (const char* c = identity.param; *c; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

TEST(RevisionPrefixRule, NeighbouringRevisionKeepsItsOwnPrefix) {
  VirtualRig rig(NtDrive(Inquiry("BRELMONT", "CDW/DVD GA-W837C", "NA01", "kp ")));
  EXPECT_EQ(IdentifyFirst(rig).DrivePrefix, "KP ");
}

TEST(RevisionPrefixRule, FailedInquiryChangesNothingAndMatchesNothing) {
  // Commands: 1 scan, 2 list INQUIRY, 3 the rule's INQUIRY.
  VirtualRig rig(NtDrive(Inquiry("BRELMONT", "CDW/DVD GA-W837C", "NA00", "kp "),
                         R"("faults": [{"at": 3, "status": "busy"}])"));
  ASSERT_EQ(rig.transport().ScanDrives(), 1);
  ASSERT_EQ(rig.ctx().Send(0, Command::kInquiryList), kStatusGood);
  rig.identity().DriveIdent.Assign(std::string_view("SOMETHING ELSE ALTOGETHR"));
  rig.identity().DrivePrefix.Assign(std::string_view("ab "));
  EXPECT_FALSE(ApplyRevisionPrefixRule(rig.ctx(), 0));
  EXPECT_EQ(rig.identity().DriveIdent, "SOMETHING ELSE ALTOGETHR");
  EXPECT_EQ(rig.identity().DrivePrefix, "AB ");
}

TEST(IdentitySubstitution, OemDriveAtTR00BecomesTheBrelmontDrive) {
  VirtualRig rig(NtDrive(Inquiry("TRUO", "CD-ROM  GA-R837C", "TR00", "TR ")));
  ASSERT_EQ(rig.transport().ScanDrives(), 1);
  ASSERT_EQ(rig.ctx().Send(0, Command::kInquiryList), kStatusGood);
  const std::string entry(reinterpret_cast<const char*>(&rig.buffer()[8]), 28);
  TakeListEntryIdentity(rig.identity(), entry);
  // What the change-of-drive box names, before any substitution.
  EXPECT_EQ(rig.identity().DriveIdent, "TRUO    CD-ROM  GA-R837C");
  IdentifySelectedDrive(rig.ctx(), 0);
  EXPECT_EQ(rig.identity().DriveIdent, "BRELMONTCD-ROM  GA-R837C");
  EXPECT_EQ(rig.identity().DriveRevision, "NB01");
  EXPECT_EQ(rig.identity().DrivePrefix, "NB ");
}

TEST(IdentitySubstitution, OemDriveAtAnotherRevisionStaysAsReported) {
  VirtualRig rig(NtDrive(Inquiry("TRUO", "CD-ROM  GA-R837C", "TR01", "TR ")));
  const DriveIdentity id = IdentifyFirst(rig);
  EXPECT_EQ(id.DriveIdent, "TRUO    CD-ROM  GA-R837C");
  EXPECT_EQ(id.DriveRevision, "TR01");
  EXPECT_EQ(id.DrivePrefix, "TR ");
}

TEST(BootMode, BootRevisionsSetTheFlagAndAnOrdinaryRevisionClearsIt) {
  for (const char* revision : {"BOOT", "B1.0", "0.99"}) {
    VirtualRig rig(NtDrive(Inquiry("BRELMONT", "CD-ROM  GA-R837C", revision)));
    EXPECT_TRUE(IdentifyFirst(rig).BootModeDrive) << revision;
  }
  VirtualRig rig(R"({"platform": "nt", "drives": [
    {"letter": "d", "inquiry": )" +
                 Inquiry("BRELMONT", "CD-ROM  GA-R837C", "BOOT") + R"(},
    {"letter": "e", "inquiry": )" +
                 Inquiry("BRELMONT", "CD-ROM  GA-R837C", "NB01") + R"(}]})");
  ASSERT_EQ(rig.transport().ScanDrives(), 2);
  TakeListEntryIdentity(rig.identity(), "BRELMONTCD-ROM  GA-R837CBOOT");
  IdentifySelectedDrive(rig.ctx(), 0);
  ASSERT_TRUE(rig.identity().BootModeDrive);
  TakeListEntryIdentity(rig.identity(), "BRELMONTCD-ROM  GA-R837CNB01");
  IdentifySelectedDrive(rig.ctx(), 1);
  EXPECT_FALSE(rig.identity().BootModeDrive);
}

TEST(ComVariant, SetOnlyForTheR350ComDrive) {
  VirtualRig com(NtDrive(Inquiry("DARLOWE", "CDRW/DVD PT-771B", "R350", "COM")));
  EXPECT_TRUE(IdentifyFirst(com).ComVariantDrive);
  VirtualRig plain(NtDrive(Inquiry("DARLOWE", "CDRW/DVD PT-771B", "R350", "CON")));
  EXPECT_FALSE(IdentifyFirst(plain).ComVariantDrive);
}

TEST(ProbeDiagnosticPage, SendsDiagOpenThenReadsTheResultsOnlyAfterSuccess) {
  VirtualRig rig(NtDrive(Inquiry("BRELMONT", "CD-ROM  GA-R837C", "NB05"),
                         R"("faults": [{"at": 4, "status": "check", "sense": [5, 36, 0]}])"));
  ASSERT_EQ(rig.transport().ScanDrives(), 1);
  rig.buffer().fill(0xAB);
  ProbeDiagnosticPage(rig.ctx(), 0);  // commands 2 and 3
  ProbeDiagnosticPage(rig.ctx(), 0);  // command 4 fails: no RECEIVE DIAGNOSTIC RESULTS
  EXPECT_EQ(rig.CommandsTraced(),
            (std::vector<std::string>{"0 120000002400 01", "0 1d0000000800 01", "0 1c0000000800 01",
                                      "0 1d0000000800 04"}));
  // The page went out of a cleared buffer.
  EXPECT_EQ(rig.buffer()[8], 0);
  EXPECT_EQ(rig.buffer()[100], 0);
}

}  // namespace
}  // namespace veltran
