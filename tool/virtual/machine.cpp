#include "virtual/machine.h"

#include <algorithm>

namespace veltran {

VirtualMachine::VirtualMachine(Scenario scenario)
    : scenario_(std::move(scenario)), terminated_(scenario_.processes.size(), false) {
  for (const ScenarioDrive& d : scenario_.drives) {
    drives_.push_back(std::make_unique<VirtualDrive>(d, clock_));
  }
}

VirtualDrive* VirtualMachine::DriveAtLetter(char letter) {
  for (auto& d : drives_) {
    if (d->config().letter == letter) return d.get();
  }
  return nullptr;
}

VirtualDrive* VirtualMachine::DriveAt(unsigned hostAdapter, unsigned target, unsigned lun) {
  for (auto& d : drives_) {
    const ScenarioDrive& c = d->config();
    if (c.hostAdapter == hostAdapter && c.target == target && c.lun == lun) return d.get();
  }
  return nullptr;
}

unsigned VirtualMachine::HostAdapterCount() const {
  unsigned count = 0;
  for (const ScenarioDrive& d : scenario_.drives) count = std::max(count, d.hostAdapter + 1);
  return count;
}

bool VirtualMachine::IsRunning(std::size_t listPosition) const {
  std::lock_guard lock(mutex_);
  return listPosition < terminated_.size() && !terminated_[listPosition];
}

bool VirtualMachine::Terminate(std::size_t listPosition) {
  std::lock_guard lock(mutex_);
  if (listPosition >= terminated_.size() || terminated_[listPosition]) return false;
  if (!scenario_.processes[listPosition].openable) return false;
  terminated_[listPosition] = true;
  return true;
}

}  // namespace veltran
