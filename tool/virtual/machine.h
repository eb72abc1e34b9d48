// The whole virtual machine: its drives, registry, processes and restart, built from a scenario.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drive/backend.h"
#include "system/system.h"
#include "virtual/drive_model.h"

namespace veltran {

class VirtualMachine {
 public:
  explicit VirtualMachine(Scenario scenario);

  const Scenario& scenario() const { return scenario_; }
  VirtualClock& clock() { return clock_; }
  std::vector<std::unique_ptr<VirtualDrive>>& drives() { return drives_; }
  // The drive at a letter (nt) or at host adapter, target and LUN 0 (9x); nullptr when none.
  VirtualDrive* DriveAtLetter(char letter);
  VirtualDrive* DriveAt(unsigned hostAdapter, unsigned target, unsigned lun);
  // Number of host adapters the ASPI manager reports: one past the highest adapter in use.
  unsigned HostAdapterCount() const;

  bool IsRunning(std::size_t listPosition) const;
  bool Terminate(std::size_t listPosition);
  int restartRequests() const { return restartRequests_; }
  void CountRestartRequest() { ++restartRequests_; }

 private:
  // The revisions a state file kept from earlier runs, by drive position; throws ScenarioError
  // for a file that cannot be read as one.
  std::map<std::size_t, std::string> ReadState() const;
  void KeepRevision(std::size_t position, const std::string& revision);

  Scenario scenario_;
  VirtualClock clock_;
  std::vector<std::unique_ptr<VirtualDrive>> drives_;
  mutable std::mutex mutex_;
  std::vector<bool> terminated_;
  std::map<std::size_t, std::string> kept_;
  int restartRequests_ = 0;
};

// The SCSI back end over a virtual machine: letters on nt, adapters and targets on 9x.
std::unique_ptr<ScsiBackend> MakeVirtualBackend(VirtualMachine& machine);
// The system interface over a virtual machine.
std::unique_ptr<SystemInterface> MakeVirtualSystem(VirtualMachine& machine);

}  // namespace veltran
