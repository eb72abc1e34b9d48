// The probe's report: each drive's block, and its transfer mode where the platform tells one.
#include "probe/drive_report.h"

#include <gtest/gtest.h>

#include <string>

namespace veltran {
namespace {

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

TEST(ProbeReport, TransferModeLineEndsTheBlockOfADriveThatHasOne) {
  Platform platform(PlatformOptions{std::string{}, ""});  // the built-in one-drive machine
  std::vector<DriveReport> reports = ScanAndIdentify(platform);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].transferMode, std::nullopt) << "the virtual machine tells no mode";
  const std::string without = FormatReport(reports);
  EXPECT_EQ(Count(without, "transfer mode"), 0u);

  reports.push_back(reports[0]);
  reports[0].transferMode = "UDMA/33";
  const std::string with = FormatReport(reports);
  const std::string block = without.substr(without.find('\n') + 1);
  EXPECT_EQ(with, "2 drive(s) found\n" + block + "  transfer mode: UDMA/33\n" +
                      std::string(block).replace(block.find("Drive 0"), 7, "Drive 1"));
}

}  // namespace
}  // namespace veltran
