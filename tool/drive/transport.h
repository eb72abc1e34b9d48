// The device table and the two calls every other layer uses: ScanDrives and ExecuteCommand.
#pragma once

#include <memory>

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
  u8 ExecuteCommand(u8 device, const u8* cdb, u8 cdbLength, u8* data, u32 dataLength,
                    u8 direction);
  u8 ExecuteCommand(u8 device, const CommandRequest& request);

  u8 DeviceCount() const { return count_; }

 private:
  std::unique_ptr<ScsiBackend> backend_;
  Trace& trace_;
  u8 count_ = 0;
};

}  // namespace veltran
