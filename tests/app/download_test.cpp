// The download end to end over a virtual drive, in virtual time: each transfer form's commands
// byte for byte, every failure the drive can give at every step, the checks before the first
// command, the progress estimate, and what may not end the program while the drive is written.
#include "app/download.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/download_rig.h"
#include "app/image_builder.h"

namespace veltran {
namespace {

using testing::Crc;
using testing::DownloadRun;
using testing::HeaderFields;

constexpr const char* kLive = "veltran.exe -LIVE";
constexpr const char* kTur = "scsi 0 000000000000 in 0 04 00000000";
constexpr std::size_t kKB = 1024;

HeaderFields Fields(std::uint8_t blockSizeKB, std::uint8_t blockCount) {
  return {.ident = "BRELMONTCDW/DVD GA-W837C",
          .revision = "NA01",
          .blockSizeKB = blockSizeKB,
          .blockCount = blockCount,
          .type = 4,
          .prefix = "NA "};
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

std::string Scsi(const std::vector<std::uint8_t>& cdb, const char* direction,
                 const std::uint8_t* data, std::size_t length, const char* status = "01") {
  return "scsi 0 " + Hex(cdb) + " " + direction + " " + std::to_string(length) + " " + status +
         " " + (length == 0 ? std::string("00000000") : Crc(data, length));
}

std::vector<std::uint8_t> VendorWrite(std::uint8_t code, std::uint8_t form = 0) {
  return {0xFF, 0x00, 0x01, 0x00, 0x00, code, 0x00, 0x00, 0x00, form, 0x00, 0x00};
}

std::vector<std::uint8_t> Page(std::initializer_list<std::uint8_t> bytes) { return bytes; }

struct FormCase {
  const char* name;
  std::vector<std::uint8_t> (*image)();
  // The commands after the medium probe and the lock, up to the final command.
  std::vector<std::string> (*commands)(const std::vector<std::uint8_t>& image);
  // What the drive received whole.
  std::vector<std::uint8_t> (*received)(const std::vector<std::uint8_t>& image);
  std::vector<std::string> log;
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::uint8_t> Whole(const std::vector<std::uint8_t>& image) { return image; }

const FormCase kForms[] = {
    {"BlockFormThreeCommands",
     [] { return testing::TrailerImage(80 * kKB, Fields(32, 3)); },
     [](const std::vector<std::uint8_t>& image) {
       const std::uint8_t* d = image.data();
       return std::vector<std::string>{
           Scsi(VendorWrite(0x00), "out", d, 32 * kKB),
           Scsi(VendorWrite(0xFF), "out", d + 32 * kKB, 32 * kKB),
           Scsi(VendorWrite(16), "out", d + 64 * kKB, 16 * kKB)};
     },
     Whole,
     {"START", "P1", "P2", "P3", "P4", "P5", "P6", "P7", "COMPLETE"}},
    {"BlockFormOneCommandSendsTheWholeImageLast",
     [] { return testing::TrailerImage(48 * kKB, Fields(32, 1)); },
     [](const std::vector<std::uint8_t>& image) {
       return std::vector<std::string>{Scsi(VendorWrite(48), "out", image.data(), 48 * kKB)};
     },
     Whole,
     {"START", "P1", "P2", "P3", "P4", "P5", "P7", "COMPLETE"}},
    {"Form64KSendsTheBlockAfterTheFirst4096Bytes",
     [] { return testing::TrailerImage(64 * kKB, Fields(32, 2)); },
     [](const std::vector<std::uint8_t>& image) {
       return std::vector<std::string>{
           Scsi(VendorWrite(0x01, 0xF0), "out", image.data() + 4096, 61440)};
     },
     [](const std::vector<std::uint8_t>& image) {
       return std::vector<std::uint8_t>(image.begin() + 4096, image.end());
     },
     {"START", "P1", "P2", "P3", "P4", "P5", "COMPLETE"}},
    {"FixedHeaderFormNumbersBlocksModulo256",
     [] { return testing::FixedHeaderImage(257 * 32 * kKB, Fields(32, 0)); },
     [](const std::vector<std::uint8_t>& image) {
       const auto open = Page({0x88, 0x00, 0x00, 0x04, 0x00, 0x40, 0x00, 0x00});
       const auto prepare = Page({0x88, 0x00, 0x00, 0x04, 0x00, 0xF0, 0xFF, 0x00});
       const auto finish = Page({0x88, 0x00, 0x00, 0x04, 0x00, 0xC0, 0x00, 0x02});
       const auto receiveReply = Page({0x88, 0x00, 0x00, 0x04, 0x00, 0x40, 0x00, 0x00});
       std::vector<std::string> lines{
           Scsi({0x1D, 0, 0, 0, 8, 0}, "out", open.data(), 8),
           Scsi({0x1C, 0, 0, 0, 8, 0}, "in", receiveReply.data(), 8),
           Scsi({0x1D, 0, 0, 0, 8, 0}, "out", prepare.data(), 8)};
       for (std::size_t j = 0; j < 257; ++j) {
         std::vector<std::uint8_t> block{0x88, 0x00, 0x80, 0x04, 0x00, 0xC0,
                                         static_cast<std::uint8_t>((j + 1) & 0xFF), 0x00};
         block.insert(block.end(), image.begin() + static_cast<std::ptrdiff_t>(j * 32 * kKB),
                      image.begin() + static_cast<std::ptrdiff_t>((j + 1) * 32 * kKB));
         lines.push_back(Scsi({0x1D, 0, 0, 0x80, 0x08, 0}, "out", block.data(), block.size()));
       }
       lines.push_back(Scsi({0x1D, 0, 0, 0, 8, 0}, "out", finish.data(), 8));
       return lines;
     },
     Whole,
     {"START", "P1", "P2", "P3", "P4", "P5", "COMPLETE"}},
};

class TransferForm : public ::testing::TestWithParam<FormCase> {};

TEST_P(TransferForm, SendsExactlyTheImageAndEndsWithTheDriveFlashed) {
  const FormCase& c = GetParam();
  const std::vector<std::uint8_t> image = c.image();
  DownloadRun run(R"("program_seconds": 3)", kLive);
  run.PutAutorun(image);
  run.Run();

  std::vector<std::string> expected(5, kTur);
  expected.push_back("lock 0 on ok");
  for (const std::string& line : c.commands(image)) expected.push_back(line);
  expected.push_back("lock 0 off ok");
  EXPECT_EQ(run.DownloadTrace(), expected);
  EXPECT_EQ(run.LiveLog(), c.log);
  const auto& drive = *run.machine().drives()[0];
  ASSERT_EQ(drive.receivedImages().size(), 1u);
  EXPECT_TRUE(drive.receivedImages()[0] == c.received(image));
  EXPECT_EQ(drive.revision(), "NA01");
  EXPECT_TRUE(run.window().Saw("Status : Ok"));
  EXPECT_TRUE(run.window().closed) << ::testing::PrintToString(run.window().events);
  EXPECT_EQ(run.machine().restartRequests(), 0);
}

INSTANTIATE_TEST_SUITE_P(Download, TransferForm, ::testing::ValuesIn(kForms),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace veltran
