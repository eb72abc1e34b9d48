// The device table and the two calls every other layer uses: ScanDrives and ExecuteCommand.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drive/backend.h"
#include "drive/trace.h"

namespace veltran {

class DriveTransport {
 public:
  DriveTransport(std::unique_ptr<ScsiBackend> backend, Trace& trace);

  // Finds the optical drives: every candidate of the back end is asked the scan INQUIRY and kept
  // when the command succeeds and the reply's first byte is 0x05. Returns the device count.
  u8 ScanDrives();

  // Sends one command to a device found by the scan and returns its status. A device index at
  // or beyond the count is refused with kStatusCallFailed and nothing is sent.
  u8 ExecuteCommand(u8 device, const u8* cdb, u8 cdbLength, u8* data, u32 dataLength, u8 direction);
  u8 ExecuteCommand(u8 device, const CommandRequest& request);

  u8 DeviceCount() const { return count_; }
  Trace& trace() { return trace_; }

  // What the OS said about the last command sent through ExecuteCommand.
  OsError LastOsError() const;
  // Exclusive use of a device around a download; traced as "lock <device> on|off ok|fail" where
  // the platform offers it. Nothing where it does not.
  std::optional<bool> SetExclusive(u8 device, bool on);
  TransferModeRead TransferMode(u8 device);
  // What the last scan has for the user beside its devices (see ScsiBackend::ScanNotices).
  std::vector<std::string> ScanNotices() const { return backend_->ScanNotices(); }

 private:
  std::unique_ptr<ScsiBackend> backend_;
  Trace& trace_;
  u8 count_ = 0;
  mutable std::mutex osErrorMutex_;
  OsError lastOsError_;
};

}  // namespace veltran
