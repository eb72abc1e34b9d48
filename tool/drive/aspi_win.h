// The 9x family's back end: the ASPI for Win32 manager, loaded at run time, addressing a drive
// by host adapter and target id (LUN 0).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "drive/aspi_abi.h"
#include "drive/backend.h"
#include "system/handles_win.h"

namespace veltran {

class AspiBackend final : public ScsiBackend {
 public:
  explicit AspiBackend(std::string libraryName = aspi::kLibraryName);

  unsigned BeginScan() override;
  std::optional<u8> Probe(unsigned candidate, const CommandRequest& request) override;
  void Accept(unsigned candidate) override;
  unsigned MaxDevices() const override { return kMaxDevices; }
  u8 Execute(u8 device, const CommandRequest& request) override;

 private:
  struct Address {
    u8 hostAdapter;
    u8 target;
  };
  // Loads the manager once and returns its host adapter count; 0 when it is not usable.
  unsigned LoadAspi();
  static Address CandidateAddress(unsigned candidate);

  std::string libraryName_;
  LibraryModule module_;
  aspi::SendASPI32CommandFn send_ = nullptr;
  aspi::GetASPI32SupportInfoFn supportInfo_ = nullptr;
  unsigned candidates_ = 0;
  std::vector<Address> devices_;
};

// Sends one command through the manager's entry point and waits for its final status. With
// SS_ERR, sense bytes 2, 12 and 13 are copied into the data buffer. A request the block cannot
// carry (no buffer, or a CDB longer than its room) is refused with SS_INVALID_SRB, unsent. The
// manager has no time-out and no error beside the status: the request's OsError is left zero.
u8 AspiExecute(aspi::SendASPI32CommandFn send, u8 hostAdapter, u8 target,
               const CommandRequest& request);
// Waits until the manager has set a final status. The manager may finish on another thread;
// the wait yields the processor between reads and has no time-out of its own.
u8 WaitForAspiStatus(const aspi::SRB_ExecSCSICmd& srb);

}  // namespace veltran
