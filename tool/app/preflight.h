// The checks before a download's first command: the transfer mode of the one drive whose DMA
// setting is checked, and whether a disc is in the drive.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "app/download_context.h"

namespace veltran {

// The drive whose DMA setting is checked before a download.
inline constexpr std::string_view kDmaCheckedDrive = "DARLOWE CD-ROM JR-906   ";
inline constexpr std::uint32_t kProbePauseMs = 100;
inline constexpr int kReadyProbes = 5;

// Whether a download may start on `device`: what the checks find, or the state before them where
// they find nothing. They send commands and may show a box but change no state: the caller takes
// the verdict as the new FlashState. "P4" is logged between the DMA check and the disc probe.
// Without a listed drive (nothing) no command is sent and neither check finds anything.
FlashState PreflightVerdict(const DownloadContext& ctx, std::optional<u8> device);

}  // namespace veltran
