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
  std::optional<CommandResult> Probe(unsigned candidate, const CommandRequest& request) override;
  void Accept(unsigned candidate) override;
  unsigned MaxDevices() const override { return kMaxDevices; }
  CommandResult Execute(u8 device, const CommandRequest& request) override;

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

// Sends one command through the manager's entry point and waits for its final status, which is
// the result's status; the host adapter status goes beside it, and an aborted or timed-out
// request is marked timed out. With SS_ERR the sense code is returned in the data buffer. A CDB
// longer than the block's room, or data without a buffer, is answered SS_INVALID_SRB, unsent.
CommandResult AspiExecute(aspi::SendASPI32CommandFn send, u8 hostAdapter, u8 target,
                          const CommandRequest& request);
// Waits until the manager has set a final status. The manager may finish on another thread;
// the wait yields the processor between reads and has no time-out of its own.
u8 WaitForAspiStatus(const aspi::SRB_ExecSCSICmd& srb);

}  // namespace veltran
