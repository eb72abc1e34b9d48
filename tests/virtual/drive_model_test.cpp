// The virtual drive: download sequences it accepts, the ones it refuses, and what it reports after.
#include "virtual/drive_model.h"

#include <gtest/gtest.h>

#include <cstring>

#include "drive/catalogue.h"
#include "support/virtual_rig.h"
#include "virtual/scenario.h"

namespace veltran {
namespace {

using testing::NtDrive;
using testing::VirtualRig;

constexpr const char* kInquiry =
    R"({"peripheral": 5, "vendor": "BRELMONT", "product": "CD-ROM  GA-R837C", "revision": "NB01", "prefix": "NB "})";

// An image whose header (in the trailer, or at the fixed place) carries `revision`.
std::vector<u8> ImageWithRevision(std::size_t size, std::size_t headerAt, const char* revision) {
  std::vector<u8> image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<u8>(i * 7);
  std::memcpy(&image[headerAt], "BRELMONTCD-ROM  GA-R837C", 24);
  std::memcpy(&image[headerAt + 24], revision, 4);
  return image;
}

class DriveModel : public ::testing::Test {
 protected:
  DriveModel() : rig_(NtDrive(kInquiry, R"("program_seconds": 5, "disc": true)")) {
    EXPECT_EQ(rig_.transport().ScanDrives(), 1);
  }

  u8 VendorWrite(u8 code, u8 form, const u8* data, u32 length) {
    std::array<u8, 12> cdb{0xFF, 0x00, 0x01, 0, 0, code, 0, 0, 0, form, 0, 0};
    std::memcpy(rig_.buffer().data(), data, length);
    return rig_.transport().ExecuteCommand(
        0, CommandRequest{cdb.data(), 12, rig_.buffer().data(), length, kDataOut});
  }

  u8 Diag(const std::array<u8, 8>& page, const u8* block = nullptr, u8 number = 0) {
    std::memcpy(rig_.buffer().data(), page.data(), 8);
    if (block == nullptr) return rig_.ctx().Send(0, Command::kSendDiagnostic);
    rig_.buffer()[kDiagBlockNumberByte] = number;
    std::memcpy(rig_.buffer().data() + 8, block, kDiagBlockDataSize);
    return rig_.ctx().Send(0, Command::kSendDiagnosticBlock);
  }

  std::array<u8, 3> Sense() { return {rig_.buffer()[2], rig_.buffer()[12], rig_.buffer()[13]}; }

  std::string InquiryRevision() {
    EXPECT_EQ(rig_.ctx().Send(0, Command::kInquiry), kStatusGood);
    return std::string(reinterpret_cast<const char*>(&rig_.buffer()[32]), 4);
  }

  VirtualDrive& drive() { return *rig_.machine().drives()[0]; }

  VirtualRig rig_;
};

TEST_F(DriveModel, BlockFormImageIsReceivedWholeAndItsRevisionReported) {
  const auto image = ImageWithRevision(3 * 32768 - 2048, 3 * 32768 - 2048 - 48, "NB09");
  const std::uint64_t before = rig_.machine().clock().NowMs();
  EXPECT_EQ(VendorWrite(0x00, 0, image.data(), 32768), kStatusGood);
  EXPECT_EQ(VendorWrite(0xFF, 0, image.data() + 32768, 32768), kStatusGood);
  EXPECT_EQ(rig_.machine().clock().NowMs(), before);
  EXPECT_EQ(VendorWrite(30, 0, image.data() + 65536, 30 * 1024), kStatusGood);
  EXPECT_EQ(rig_.machine().clock().NowMs() - before, 5000u);  // programming time
  ASSERT_EQ(drive().receivedImages().size(), 1u);
  EXPECT_EQ(drive().receivedImages()[0], image);
  EXPECT_EQ(InquiryRevision(), "NB09");
}

TEST_F(DriveModel, TrailerStartingWithFFPointsToTheHeader64KBEarlier) {
  auto image = ImageWithRevision(131072, 131072 - 65584, "NB07");
  std::fill(image.end() - 65536, image.end(), u8{0xFF});
  EXPECT_EQ(VendorWrite(0x00, 0, image.data(), 65536), kStatusGood);
  EXPECT_EQ(VendorWrite(64, 0, image.data() + 65536, 65536), kStatusGood);
  EXPECT_EQ(InquiryRevision(), "NB07");
}

TEST_F(DriveModel, OneBlockImageIsJustTheLastBlock) {
  const auto image = ImageWithRevision(8192, 8192 - 48, "NB02");
  EXPECT_EQ(VendorWrite(8, 0, image.data(), 8192), kStatusGood);
  EXPECT_EQ(InquiryRevision(), "NB02");
}

TEST_F(DriveModel, MalformedWriteSequencesAreRefusedAndNothingIsProgrammed) {
  const auto image = ImageWithRevision(65536, 65536 - 48, "NB03");
  EXPECT_EQ(VendorWrite(0xFF, 0, image.data(), 32768), kStatusCheck);  // middle before first
  EXPECT_EQ(Sense(), (std::array<u8, 3>{5, 0x2C, 0}));
  EXPECT_EQ(VendorWrite(0x00, 0, image.data(), 32768), kStatusGood);
  EXPECT_EQ(VendorWrite(0xFF, 0, image.data(), 16384), kStatusCheck);  // block size changed
  EXPECT_EQ(VendorWrite(32, 0, image.data(), 1024), kStatusCheck);     // length is not 32 KB
  EXPECT_EQ(Sense(), (std::array<u8, 3>{5, 0x26, 0}));
  EXPECT_EQ(VendorWrite(0x01, 0xF0, image.data(), 1024), kStatusCheck);  // 64 KB form is 60 KB
  EXPECT_EQ(VendorWrite(0x02, 0xF0, image.data(), 61440), kStatusCheck);
  EXPECT_EQ(VendorWrite(0x01, 0x01, image.data(), 1024), kStatusCheck);
  EXPECT_EQ(Sense(), (std::array<u8, 3>{5, 0x24, 0}));
  EXPECT_TRUE(drive().receivedImages().empty());
  EXPECT_EQ(InquiryRevision(), "NB01");
}

TEST_F(DriveModel, SixtyFourKilobyteFormTakesSixtyKilobytesInOneCommand) {
  auto image = ImageWithRevision(65536, 65536 - 48, "NB04");
  EXPECT_EQ(VendorWrite(0x01, 0xF0, image.data() + 4096, 61440), kStatusGood);
  EXPECT_EQ(InquiryRevision(), "NB04");
}

TEST_F(DriveModel, DiagnosticDownloadNumbersBlocksModulo256) {
  constexpr std::size_t kBlocks = 257;
  const auto image = ImageWithRevision(kBlocks * kDiagBlockDataSize, 0xBF08, "NX05");
  EXPECT_EQ(Diag(kDiagOpen), kStatusGood);
  EXPECT_EQ(rig_.ctx().Send(0, Command::kReceiveDiagnosticResults), kStatusGood);
  EXPECT_EQ(Diag(kDiagPrepare), kStatusGood);
  for (std::size_t j = 0; j < kBlocks; ++j) {
    ASSERT_EQ(Diag(kDiagBlock, &image[j * kDiagBlockDataSize], static_cast<u8>(j + 1)), kStatusGood)
        << j;
  }
  EXPECT_EQ(Diag(kDiagFinish), kStatusGood);
  ASSERT_EQ(drive().receivedImages().size(), 1u);
  EXPECT_EQ(drive().receivedImages()[0], image);
  EXPECT_EQ(InquiryRevision(), "NX05");
}

TEST_F(DriveModel, DiagnosticSequenceOutOfOrderIsRefused) {
  std::vector<u8> block(kDiagBlockDataSize, 0x5A);
  EXPECT_EQ(Diag(kDiagPrepare), kStatusCheck);  // not opened
  EXPECT_EQ(Diag(kDiagOpen), kStatusGood);
  EXPECT_EQ(Diag(kDiagBlock, block.data(), 1), kStatusCheck);  // not prepared
  EXPECT_EQ(Diag(kDiagPrepare), kStatusGood);
  EXPECT_EQ(Diag(kDiagFinish), kStatusCheck);                  // no block yet
  EXPECT_EQ(Diag(kDiagBlock, block.data(), 2), kStatusCheck);  // block 1 skipped
  EXPECT_EQ(Sense(), (std::array<u8, 3>{5, 0x2C, 0}));
  EXPECT_TRUE(drive().receivedImages().empty());
}

TEST_F(DriveModel, EjectTakesTheDiscOut) {
  EXPECT_EQ(rig_.ctx().Send(0, Command::kTestUnitReady), kStatusGood);
  EXPECT_EQ(rig_.ctx().Send(0, Command::kStartStopUnit), kStatusGood);
  EXPECT_EQ(rig_.ctx().Send(0, Command::kTestUnitReady), kStatusCheck);
  EXPECT_EQ(Sense(), (std::array<u8, 3>{2, 0x3A, 0}));
}

// INQUIRY as the drives of the QEMU test machines answer it (tests/realdrive/recorded): a drive
// sends only the bytes it has, leaves the rest of the buffer alone, and a drive without a prefix
// has zeros there.
TEST(DriveModelInquiry, SendsWhatTheDriveHasAsRealDrivesDo) {
  struct Case {
    const char* inquiry;
    Command command;
    std::uint32_t sent;
    u8 additionalLength;
    const char* bytes36to38;
  };
  const Case cases[] = {
      // An IDE drive: 36 bytes, whatever the allocation length.
      {R"({"vendor": "QEMU", "header": [128, 5, 50, 31, 0, 0, 0], "length": 36})",
       Command::kInquiry, 36, 31, "\xEE\xEE\xEE"},
      // A SCSI drive: 96 bytes, byte 4 counts what was sent.
      {R"({"vendor": "QEMU", "header": [128, 5, 18, 91, 0, 0, 18], "length": 96, "additional_length": "sent"})",
       Command::kInquiryScan, 36, 31, nullptr},
      {R"({"vendor": "QEMU", "header": [128, 5, 18, 91, 0, 0, 18], "length": 96, "additional_length": "sent"})",
       Command::kInquiry, 96, 91, "\0\0\0"},
      // The default drive: byte 4 gives the full length, whatever was asked for.
      {R"({"vendor": "QEMU", "prefix": "nb"})", Command::kInquiryScan, 36, 91, nullptr},
      {R"({"vendor": "QEMU", "prefix": "nb"})", Command::kInquiry, 96, 91, "nb "},
  };
  for (const Case& c : cases) {
    VirtualRig rig(NtDrive(c.inquiry, R"("disc": false)"));
    ASSERT_EQ(rig.transport().ScanDrives(), 1);
    rig.buffer().fill(0xEE);
    ASSERT_EQ(rig.ctx().Send(0, c.command), kStatusGood) << c.inquiry;
    const auto* b = rig.buffer().data();
    EXPECT_EQ(b[4], c.additionalLength) << c.inquiry;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[8]), 8), "QEMU    ") << c.inquiry;
    EXPECT_NE(b[c.sent - 1], 0xEE) << c.inquiry;
    EXPECT_EQ(b[c.sent], 0xEE) << c.inquiry << ": the drive sent more than it has";
    if (c.bytes36to38 != nullptr) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[36]), 3),
                std::string(c.bytes36to38, 3))
          << c.inquiry;
    }
  }
}

TEST(DriveModelFaults, CountCommandsFromTheScanInquiry) {
  VirtualRig rig(NtDrive(kInquiry, R"("disc": true, "faults": [{"at": 3, "status": "busy"}])"));
  ASSERT_EQ(rig.transport().ScanDrives(), 1);                           // 1
  EXPECT_EQ(rig.ctx().Send(0, Command::kTestUnitReady), kStatusGood);   // 2
  EXPECT_EQ(rig.ctx().Send(0, Command::kTestUnitReady), kStatusCheck);  // 3
  EXPECT_EQ(rig.ctx().Send(0, Command::kTestUnitReady), kStatusGood);   // 4
  EXPECT_EQ(rig.machine().drives()[0]->commandsReceived(), 4u);
}

// The drive as an operating system's SCSI stack meets it (behind the kernel's SCSI target in the
// tests under QEMU): what the OS sends of its own accord, faults counted among the commands that
// match them, the unit attention after an update, vendor commands cut to 10 CDB bytes.
class DriveBehindOs : public ::testing::Test {
 protected:
  static ScenarioDrive Config(const std::string& extra) {
    const std::string json = R"({"platform": "linux", "drives": [{"letter": "d", "inquiry": )" +
                             std::string(kInquiry) + R"(, "vendor_identify_prefix": "KVR")" +
                             (extra.empty() ? "" : ", " + extra) + "}]}";
    return ParseScenario(json, "os.json").drives.at(0);
  }

  DriveReply Send(VirtualDrive& drive, std::vector<u8> cdb, u32 length = 0, bool out = false) {
    data_.assign(std::max<u32>(length, 1), 0);
    return drive.Execute(cdb.data(), static_cast<u8>(cdb.size()), data_.data(), length, out);
  }

  static std::array<u8, 3> SenseOf(const DriveReply& r) {
    return {r.sense[2], r.sense[12], r.sense[13]};
  }

  VirtualClock clock_;
  std::vector<u8> data_;
};

TEST_F(DriveBehindOs, AnswersWhatTheKernelSendsAtAttachAndWhenPolling) {
  struct Row {
    bool disc;
    std::vector<u8> cdb;
    u32 length;
    std::array<u8, 3> sense;  // all zero: good
    std::size_t byte;         // of the data, checked when good
    u8 value;
  };
  const Row rows[] = {
      {false, {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8, {}, 5, 0x00},        // no medium
      {true, {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8, {}, 5, 0x02},         // medium present
      {true, {0x4A, 0x00, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8, {5, 0x24, 0}, 0, 0},  // not polled
      {false, {0x1A, 0, 0x2A, 0, 128, 0}, 128, {}, 4, 0x2A},
      {true, {0x46, 0, 0, 0, 0, 0, 0, 0, 16, 0}, 16, {}, 7, 0x08},
      {false, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, {2, 0x3A, 0}, 0, 0},
      {true, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, {}, 6, 0x08},
      {false, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048, {2, 0x3A, 0}, 0, 0},  // READ: no disc
      {true, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048, {5, 0x20, 0}, 0, 0},   // not a reader
      {false, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048, {5, 0x20, 0}, 0, 0},  // WRITE: unknown
  };
  for (const Row& row : rows) {
    VirtualDrive drive(Config(row.disc ? R"("disc": true)" : ""), clock_);
    const DriveReply reply = Send(drive, row.cdb, row.length);
    const std::string what = "opcode " + std::to_string(row.cdb[0]) + (row.disc ? ", disc" : "");
    EXPECT_EQ(SenseOf(reply), row.sense) << what;
    if (row.sense == std::array<u8, 3>{}) {
      EXPECT_EQ(data_.at(row.byte), row.value) << what;
    }
  }
}

TEST_F(DriveBehindOs, UnitAttentionOnceAfterAWholeImageWhenTheDriveHasOne) {
  const std::vector<u8> write64K{0xFF, 0, 0x01, 0, 0, 0x01, 0, 0, 0, 0xF0, 0, 0};
  const std::vector<u8> tur(6, 0), inquiry{0x12, 0, 0, 0, 96, 0};
  const std::vector<u8> poll{0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0};
  const std::array<u8, 3> noMedium{2, 0x3A, 0}, attention{6, 0x29, 0};
  for (const bool flagged : {false, true}) {
    VirtualDrive drive(Config(flagged ? R"("unit_attention_after_download": true)" : ""), clock_);
    EXPECT_EQ(SenseOf(Send(drive, tur)), noMedium) << "no attention before any image";
    ASSERT_EQ(Send(drive, write64K, 61440, true).kind, DriveReply::Kind::kGood);
    EXPECT_EQ(Send(drive, inquiry, 96).kind, DriveReply::Kind::kGood) << "INQUIRY is exempt";
    EXPECT_EQ(Send(drive, poll, 8).kind, DriveReply::Kind::kGood) << "so is the media poll";
    EXPECT_EQ(SenseOf(Send(drive, tur)), flagged ? attention : noMedium) << flagged;
    EXPECT_EQ(SenseOf(Send(drive, tur)), noMedium) << "reported once";
  }
}

TEST_F(DriveBehindOs, FaultWithACdbCountsOnlyTheCommandsThatBeginWithIt) {
  VirtualDrive drive(Config(R"("faults": [{"cdb": "ff00010000ff", "at": 2, "status": "timeout"},
                                          {"cdb": "ff00010000ff", "at": 3, "status": "gone"}])"),
                     clock_);
  const std::vector<u8> first{0xFF, 0, 0x01, 0, 0, 0x00, 0, 0, 0, 0, 0, 0};
  const std::vector<u8> middle{0xFF, 0, 0x01, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0};
  using Kind = DriveReply::Kind;
  const std::pair<const std::vector<u8>*, Kind> sequence[] = {
      {&first, Kind::kGood},     {&middle, Kind::kGood}, {&first, Kind::kGood},
      {&middle, Kind::kTimeout}, {&middle, Kind::kGone}, {&middle, Kind::kGood}};
  int step = 0;
  for (const auto& [cdb, kind] : sequence) {
    EXPECT_EQ(Send(drive, *cdb, 1024, true).kind, kind) << "command " << ++step;
  }
}

TEST_F(DriveBehindOs, VendorCommandsCutToTenBytesOnlyWhereTheTargetCutsThem) {
  const std::vector<u8> identify10{0xFF, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<u8> identifyWrongTail{0xFF, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0x55};
  const std::array<u8, 3> invalidField{5, 0x24, 0};
  VirtualDrive whole(Config(""), clock_);
  EXPECT_EQ(SenseOf(Send(whole, identify10, 8)), invalidField);
  ScenarioDrive cutConfig = Config("");
  cutConfig.vendorCdbTailLost = true;
  VirtualDrive cut(cutConfig, clock_);
  ASSERT_EQ(Send(cut, identify10, 8).kind, DriveReply::Kind::kGood);
  EXPECT_EQ(std::string(data_.begin() + 4, data_.begin() + 7), "KVR");
  EXPECT_EQ(SenseOf(Send(cut, identifyWrongTail, 8)), invalidField)
      << "a whole CDB is still checked whole";
}

}  // namespace
}  // namespace veltran
