// "veltran-probe --json": the drive list and what identification finds, as one JSON document.
#pragma once

#include <string>
#include <vector>

#include "drive_report.h"

namespace veltran {

inline constexpr int kProbeJsonFormat = 1;

// The document, with a final line break: every drive in list order, then the scan's notices.
// Text from drives is escaped as the text report escapes it.
std::string FormatJsonReport(const std::vector<DriveReport>& reports,
                             const std::vector<std::string>& notices);

}  // namespace veltran
