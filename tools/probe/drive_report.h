// Scans the drives, lists them as the flash tool lists them, and identifies each one in turn.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "drive/identify.h"
#include "drive/text.h"
#include "platform/platform.h"

namespace veltran {

struct DriveReport {
  u8 device = 0;
  std::string listEntry;  // INQUIRY bytes 8 to 35
  DriveIdentity identity;
  std::optional<std::string> transferMode;  // where the platform tells it
};

// The drive list in scan order (devices that do not answer the list INQUIRY are left out), each
// entry identified as if the user had picked it.
std::vector<DriveReport> ScanAndIdentify(Platform& platform);
// The report is text: bytes that are not printable ASCII, and the backslash, are shown as \xNN.
std::string FormatReport(const std::vector<DriveReport>& reports);

}  // namespace veltran
