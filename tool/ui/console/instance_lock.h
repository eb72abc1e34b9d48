// One running tool per scope: the machine for real drives, the working folder for a virtual run.
#pragma once

#include <optional>
#include <string>

namespace veltran {

class InstanceLock {
 public:
  // Nothing when another process holds the lock of the same scope.
  static std::optional<InstanceLock> Acquire(const std::string& scope);
  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&&) = delete;
  ~InstanceLock();

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace veltran
