// One running tool per scope: the machine for real drives, the working folder for a virtual run.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "drive/file_descriptor_linux.h"

namespace veltran {

class InstanceLock {
 public:
  // Nothing when another process holds the lock of the same scope.
  static std::optional<InstanceLock> Acquire(const std::string& scope);
  InstanceLock(InstanceLock&& other) noexcept = default;
  InstanceLock& operator=(InstanceLock&&) = delete;

 private:
  // Holding the descriptor holds the lock; without one (no lock file) the tool runs unlocked.
  explicit InstanceLock(FileDescriptor fd) : fd_(std::move(fd)) {}
  FileDescriptor fd_;
};

}  // namespace veltran
