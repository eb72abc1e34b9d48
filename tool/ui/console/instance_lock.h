// One running tool per scope: the machine for real drives, the working folder for a virtual run.
// The lock is a file only the user running the tool can open, in a folder only that user can
// write (root: /run/veltran), so that no other user can hold it or point it elsewhere.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "drive/file_descriptor_linux.h"

namespace veltran {

class InstanceLock {
 public:
  // Nothing when another process holds the lock of the same scope. A lock that cannot be used
  // safely is described in `problem` and the tool runs without it.
  static std::optional<InstanceLock> Acquire(const std::string& scope, std::string& problem);
  InstanceLock(InstanceLock&& other) noexcept = default;
  InstanceLock& operator=(InstanceLock&&) = delete;

 private:
  // Holding the descriptor holds the lock; without one the tool runs unlocked.
  explicit InstanceLock(FileDescriptor fd) : fd_(std::move(fd)) {}
  FileDescriptor fd_;
};

// The folder the lock files of the user running the tool live in: made 0700 when missing, and
// used only when it is a folder of that user that no one else may write. Nothing otherwise.
std::optional<std::string> PrivateLockFolder(std::string& problem);

}  // namespace veltran
