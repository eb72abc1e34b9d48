#include "drive/trace.h"

#include <gtest/gtest.h>

#include "support/virtual_rig.h"

namespace veltran {
namespace {

TEST(Trace, ScsiLineHasLowerCaseCdbDirectionLengthStatusAndCrcOfTheBuffer) {
  const u8 cdb[] = {0x1D, 0x00, 0x00, 0x80, 0x08, 0xAB};
  u8 data[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  // 0xCBF43926 is the CRC-32 check value of "123456789".
  EXPECT_EQ(Trace::ScsiLine(7, {cdb, 6, data, 9, kDataOut}, 0x82),
            "scsi 7 1d00008008ab out 9 82 cbf43926");
  EXPECT_EQ(Trace::ScsiLine(0, {cdb, 6, data, 0, kDataIn}, 1),
            "scsi 0 1d00008008ab in 0 01 00000000");
}

TEST(Trace, AppendsKillAndRestartLinesToAnExistingFile) {
  const testing::TempFile file("trace");
  const auto& path = file.path();
  { std::ofstream(path) << "earlier line\n"; }
  {
    Trace trace(path.string());
    trace.Kill("C:\\Program Files\\directcd.exe");
    trace.Restart(false);
    trace.Restart(true);
  }
  EXPECT_EQ(testing::ReadLines(path),
            (std::vector<std::string>{"earlier line", "kill C:\\Program Files\\directcd.exe",
                                      "restart refused", "restart accepted"}));
}

TEST(Trace, UnwritableFileIsReportedNotIgnored) {
  Trace trace((testing::TempPath("no-such-folder") / "trace.txt").string());
  EXPECT_FALSE(trace.ok());
}

}  // namespace
}  // namespace veltran
