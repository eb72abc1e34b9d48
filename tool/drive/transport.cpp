#include "drive/transport.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "drive/catalogue.h"

namespace veltran {

DriveTransport::DriveTransport(std::unique_ptr<ScsiBackend> backend, Trace& trace)
    : backend_(std::move(backend)), trace_(trace) {}

u8 DriveTransport::ScanDrives() {
  count_ = 0;
  const CommandSpec& inquiry = Catalogue(Command::kInquiryScan);
  // The scan has its own zero-filled buffer: the command buffer is not touched by a scan.
  std::vector<u8> scratch(kCommandBufferSize);
  const unsigned candidates = backend_->BeginScan();
  const unsigned limit = std::min(backend_->MaxDevices(), kMaxDevices);
  for (unsigned candidate = 0; candidate < candidates && count_ < limit; ++candidate) {
    // A probe writes only within its data length (sense bytes at 2, 12 and 13 included): the
    // rest of the buffer is still zero from its creation.
    std::fill_n(scratch.begin(), std::max<std::size_t>(inquiry.dataLength, 14), u8{0});
    const CommandRequest request{inquiry.cdb.data(), inquiry.cdbLength, scratch.data(),
                                 inquiry.dataLength, inquiry.direction};
    const std::optional<CommandResult> result = backend_->Probe(candidate, request);
    if (!result) continue;
    trace_.Scsi(count_, request, *result);
    // The whole byte is compared: a drive that is not connected has another qualifier.
    if (result->ok() && scratch[0] == kOpticalPeripheral) {
      backend_->Accept(candidate);
      ++count_;
    }
  }
  return count_;
}

CommandResult DriveTransport::Execute(u8 device, const CommandRequest& request) {
  if (device >= count_ || !IsSendable(request)) return CommandResult{};
  const CommandResult result = backend_->Execute(device, request);
  trace_.Scsi(device, request, result);
  if (observer_) observer_(device, request, result);
  return result;
}

std::optional<bool> DriveTransport::SetExclusive(u8 device, bool on) {
  if (device >= count_) return std::nullopt;
  // The OS's polling is held inside the lock: taken once the lock is, given back before it.
  // Only a taken lock is given back, so only then is the polling held.
  if (!on) HoldPolling(device, false);
  const std::optional<bool> done = backend_->SetExclusive(device, on);
  if (done) trace_.Lock(device, on, *done);
  if (on && done.value_or(false)) HoldPolling(device, true);
  return done;
}

void DriveTransport::HoldPolling(u8 device, bool hold) {
  const std::optional<PollingChange> change = backend_->HoldPolling(device, hold);
  if (change) trace_.Polling(device, hold, change->succeeded, change->setting);
}

TransferModeRead DriveTransport::TransferMode(u8 device) {
  if (device >= count_) return {};
  return backend_->TransferMode(device);
}

std::string OsError::Describe() const {
  if (!any()) return "";
  std::string text = "os " + std::to_string(code);
  if (hostStatus != 0 || driverStatus != 0) {
    text += " host " + std::to_string(hostStatus) + " driver " + std::to_string(driverStatus);
  }
  return text;
}

std::optional<bool> IsDmaTransferMode(const std::string& mode) {
  // Linux's sysfs names the modes "XFER_PIO_4", "XFER_MW_DMA_2", "XFER_UDMA_5"; the short
  // forms ("PIO4", "UDMA/33") are read too.
  std::string_view name = mode;
  if (name.starts_with("XFER_")) name.remove_prefix(5);
  if (name.find("DMA") != std::string_view::npos) return true;
  if (name.starts_with("PIO")) return false;
  return std::nullopt;
}

}  // namespace veltran
