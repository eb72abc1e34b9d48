// One OS facility for reaching drives: pass-through, ASPI, SG_IO or the virtual machine.
// The generic scan (transport.cpp) walks the candidates a back end offers, probes each with the
// scan INQUIRY and keeps the accepted ones; the back end only opens, sends and remembers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "drive/scsi.h"

namespace veltran {

class ScsiBackend {
 public:
  virtual ~ScsiBackend() = default;

  // Forgets every device of an earlier scan and returns the number of candidates, in scan order.
  virtual unsigned BeginScan() = 0;
  // Sends a probe to a candidate; nothing when the candidate cannot be opened, so no command
  // was sent at all.
  virtual std::optional<u8> Probe(unsigned candidate, const CommandRequest& request) = 0;
  // Keeps the candidate just probed as the next device index.
  virtual void Accept(unsigned candidate) = 0;
  // Largest number of devices this back end can address.
  virtual unsigned MaxDevices() const = 0;

  // Sends one command to a device kept by the scan.
  virtual u8 Execute(u8 device, const CommandRequest& request) = 0;
};

}  // namespace veltran

namespace veltran {

// The back end of the machine the program runs on, chosen once from the platform id:
// pass-through on NT, ASPI on the 9x family (Windows), SG_IO (Linux).
std::unique_ptr<ScsiBackend> MakeHostBackend(std::uint32_t platformId);

}  // namespace veltran
