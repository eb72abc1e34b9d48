// One OS facility for reaching drives: pass-through, ASPI, SG_IO or the virtual machine.
// The generic scan (transport.cpp) walks the candidates a back end offers, probes each with the
// scan INQUIRY and keeps the accepted ones; the back end only opens, sends and remembers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/scsi.h"

namespace veltran {

// What became of the OS's own polling of a device when it was held or given back.
struct PollingChange {
  bool succeeded = false;
  // The polling setting before the hold (held) or the one put back (given back); nothing when
  // it could not be read.
  std::optional<long> setting;

  bool operator==(const PollingChange&) const = default;
};

class ScsiBackend {
 public:
  virtual ~ScsiBackend() = default;

  // Forgets every device of an earlier scan and returns the number of candidates, in scan order.
  virtual unsigned BeginScan() = 0;
  // Sends a probe to a candidate; nothing when the candidate cannot be opened, so no command
  // was sent at all.
  virtual std::optional<CommandResult> Probe(unsigned candidate, const CommandRequest& request) = 0;
  // Keeps the candidate just probed as the next device index.
  virtual void Accept(unsigned candidate) = 0;
  // Largest number of devices this back end can address.
  virtual unsigned MaxDevices() const = 0;

  // Sends one command to a device kept by the scan, within the request's time-out. The transport
  // has checked the request (IsSendable) and the device index; a back end still answers an index
  // it does not know with kStatusCallFailed and sends nothing.
  virtual CommandResult Execute(u8 device, const CommandRequest& request) = 0;

  // Takes (on) or gives back (off) exclusive use of a device, so that nothing else reaches the
  // drive while it is written. Nothing where the platform offers no such lock; else whether the
  // request succeeded.
  virtual std::optional<bool> SetExclusive(u8 /*device*/, bool /*on*/) { return std::nullopt; }
  // Stops (hold) or restarts what the OS itself sends to a device between the program's
  // commands, such as Linux's media polling: the transport holds it while it holds the lock.
  // Nothing where the platform or the device has no such setting, or nothing is held to give
  // back.
  virtual std::optional<PollingChange> HoldPolling(u8 /*device*/, bool /*hold*/) {
    return std::nullopt;
  }
  // The transfer mode of the device's ATA link, where the platform tells it.
  virtual TransferModeRead TransferMode(u8 /*device*/) { return {}; }
  // What the last scan has for the user beside its devices, one sentence each (a drive that
  // exists but could not be opened, and what would let the user in); the front end shows them.
  virtual std::vector<std::string> ScanNotices() const { return {}; }
};

}  // namespace veltran

namespace veltran {

// The back end of the machine the program runs on, chosen once from the platform id:
// pass-through on NT, ASPI on the 9x family (Windows), SG_IO (Linux).
std::unique_ptr<ScsiBackend> MakeHostBackend(std::uint32_t platformId);

}  // namespace veltran
