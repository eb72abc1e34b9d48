#include "app/preflight.h"

#include <optional>
#include <string>

namespace veltran {
namespace {

// The DMA key of an IDE port: the last character is the port digit.
constexpr std::string_view kDmaKey = "Hardware\\DeviceMap\\Scsi\\Scsi Port 1";
constexpr std::string_view kDmaValue = "DMAEnabled";
constexpr std::size_t kDmaValueSize = 4;

// The DMA bit of the selected drive's IDE position; nothing when the bit is clear.
std::optional<FlashState> DmaFromRegistry(const DownloadContext& ctx) {
  const AppState& s = ctx.state;
  const auto position = static_cast<std::size_t>(s.SelectedDrive);
  // A drive without a recorded IDE position has no DMA bit to read: it cannot be shown safe.
  if (position >= s.IdeDeviceSlots.size()) return FlashState::kDmaUnreadable;
  const int slot = s.IdeDeviceSlots[position];
  const int port = slot / 2;
  const int deviceBit = slot % 2;
  std::string key(kDmaKey);
  key.back() = static_cast<char>('0' + port);
  const RegistryRead read = ctx.system.ReadRegistry(key, kDmaValue, kDmaValueSize);
  if (!read.keyOpened) {
    ctx.window.ShowMessage({"Message", "Reg Read Fail", false, false});
    return FlashState::kDmaUnreadable;
  }
  if (!read.value || read.value->size() != kDmaValueSize) return FlashState::kDmaUnreadable;
  const std::uint32_t word =
      std::uint32_t{(*read.value)[0]} | (std::uint32_t{(*read.value)[1]} << 8) |
      (std::uint32_t{(*read.value)[2]} << 16) | (std::uint32_t{(*read.value)[3]} << 24);
  if ((word >> deviceBit) & 1u) return FlashState::kDmaActive;
  return std::nullopt;
}

// The transfer mode the platform reports; nothing where it offers none or the mode is PIO.
std::optional<FlashState> DmaFromTransferMode(const DownloadContext& ctx, u8 device) {
  const TransferModeRead read = ctx.transport.TransferMode(device);
  if (!read.offered) return std::nullopt;
  const std::optional<bool> dma = read.mode ? IsDmaTransferMode(*read.mode) : std::nullopt;
  if (!dma) return FlashState::kDmaUnreadable;
  if (*dma) return FlashState::kDmaActive;
  return std::nullopt;
}

// A drive that reports ready has a disc in it. Without a listed drive nothing is asked and
// nothing is found.
bool DiscPresent(const DownloadContext& ctx, std::optional<u8> device) {
  if (!device) return false;
  for (int attempt = 0; attempt < kReadyProbes; ++attempt) {
    const u8 status = ctx.Send(*device, Command::kTestUnitReady);
    ctx.system.clock().SleepMs(kProbePauseMs);
    if (status == kStatusGood) return true;
  }
  return false;
}

}  // namespace

FlashState PreflightVerdict(const DownloadContext& ctx, std::optional<u8> device) {
  const AppState& s = ctx.state;
  FlashState verdict = s.FlashState;
  if (device && s.identity.DriveIdent == kDmaCheckedDrive) {
    const std::optional<FlashState> dma =
        s.PlatformNT ? DmaFromRegistry(ctx) : DmaFromTransferMode(ctx, *device);
    verdict = dma.value_or(verdict);
  }
  ctx.Log("P4");
  if (DiscPresent(ctx, device)) verdict = FlashState::kDiscPresent;
  return verdict;
}

}  // namespace veltran
