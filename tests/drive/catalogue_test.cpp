// What goes on the wire for each catalogue command, written out byte for byte as drives expect it.
#include "drive/catalogue.h"

#include <gtest/gtest.h>

#include "support/virtual_rig.h"

namespace veltran {
namespace {

using testing::VirtualRig;

TEST(Catalogue, EveryCommandGoesOutWithItsBytesLengthAndDirection) {
  VirtualRig rig(R"({"platform": "nt", "drives": [{"letter": "e",
    "inquiry": {"peripheral": 5, "vendor": "V", "product": "P", "revision": "R", "prefix": "P"}}]})");
  ASSERT_EQ(rig.transport().ScanDrives(), 1);
  rig.ClearTrace();
  const std::vector<std::pair<Command, std::string>> expected = {
      {Command::kInquiry, "120000006000 in 96"},
      {Command::kInquiryList, "120000006000000000000000 in 96"},
      {Command::kVendorIdentify, "ff00ff0000000000000000aa in 8"},
      {Command::kTestUnitReady, "000000000000 in 0"},
      {Command::kStartStopUnit, "1b0000000200 in 0"},
      {Command::kSendDiagnostic, "1d0000000800 out 8"},
      {Command::kSendDiagnosticBlock, "1d0000800800 out 32776"},
      {Command::kReceiveDiagnosticResults, "1c0000000800 in 8"},
  };
  for (const auto& [command, wire] : expected) rig.ctx().Send(0, command);
  const auto lines = rig.TraceLines();
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(lines[i].substr(7, expected[i].second.size()), expected[i].second)
        << Catalogue(expected[i].first).name;
  }
}

TEST(Catalogue, ScanInquiryAndVendorWriteTemplate) {
  const CommandSpec& scan = Catalogue(Command::kInquiryScan);
  EXPECT_EQ(std::vector<u8>(scan.cdb.begin(), scan.cdb.begin() + scan.cdbLength),
            (std::vector<u8>{0x12, 0, 0, 0, 0x24, 0}));
  EXPECT_EQ(scan.dataLength, 36u);
  const CommandSpec& write = Catalogue(Command::kVendorWrite);
  EXPECT_EQ(std::vector<u8>(write.cdb.begin(), write.cdb.begin() + write.cdbLength),
            (std::vector<u8>{0xFF, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(write.direction, kDataOut);
}

}  // namespace
}  // namespace veltran
