// The device table and the two calls every other layer uses: ScanDrives and ExecuteCommand.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/backend.h"
#include "drive/trace.h"

namespace veltran {

class DriveTransport {
 public:
  // Told of every command Execute sent, on the thread that sent it, once the command has ended.
  // The request's data is valid only during the call.
  using CommandObserver =
      std::function<void(u8 device, const CommandRequest& request, const CommandResult& result)>;

  DriveTransport(std::unique_ptr<ScsiBackend> backend, Trace& trace);

  // Finds the optical drives: every candidate of the back end is asked the scan INQUIRY and kept
  // when the command succeeds and the reply's first byte is 0x05. Returns the device count.
  u8 ScanDrives();

  // Sends one command to a device found by the scan and returns what became of it. A device
  // index at or beyond the count, or a request IsSendable refuses, gets kStatusCallFailed with
  // nothing sent and nothing traced.
  CommandResult Execute(u8 device, const CommandRequest& request);
  // The status byte of Execute: 1 for success, anything else a failure.
  u8 ExecuteCommand(u8 device, const CommandRequest& request) {
    return Execute(device, request).status;
  }

  // Set before any command is sent: the observer is read without a lock.
  void SetCommandObserver(CommandObserver observer) { observer_ = std::move(observer); }

  u8 DeviceCount() const { return count_; }
  Trace& trace() { return trace_; }

  // Exclusive use of a device around a download; traced as "lock <device> on|off ok|fail" where
  // the platform offers it. Nothing where it does not. A lock taken also holds the OS's own
  // polling of the device (see ScsiBackend::HoldPolling) until the lock is given back, traced
  // after the lock on and before the lock off; the result is the lock's alone.
  std::optional<bool> SetExclusive(u8 device, bool on);
  TransferModeRead TransferMode(u8 device);
  // What the last scan has for the user beside its devices (see ScsiBackend::ScanNotices).
  std::vector<std::string> ScanNotices() const { return backend_->ScanNotices(); }

 private:
  void HoldPolling(u8 device, bool hold);

  std::unique_ptr<ScsiBackend> backend_;
  Trace& trace_;
  u8 count_ = 0;
  CommandObserver observer_;
};

}  // namespace veltran
