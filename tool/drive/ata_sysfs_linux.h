// The ATA transfer mode of a drive, found in sysfs from the drive's SCSI generic node.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace veltran {

// The mode the kernel reports for the ATA device behind SCSI generic node `genericName` ("sg3")
// in the sysfs tree at `sysfsRoot` ("/sys"): "PIO4", "MWDMA2", "UDMA/33". Nothing when the node
// is not there, sits on no ATA port (a SCSI or USB drive), or the mode is missing or of
// neither PIO nor DMA kind ("<n/a>").
std::optional<std::string> AtaTransferMode(const std::filesystem::path& sysfsRoot,
                                           const std::string& genericName);

}  // namespace veltran
