#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <utility>

#include "instance_lock.h"

namespace veltran {

std::optional<InstanceLock> InstanceLock::Acquire(const std::string& scope) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("veltran-" + std::to_string(std::hash<std::string>{}(scope)) + ".lock");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  // A lock file that cannot be made must not keep the tool from running.
  if (fd < 0) return InstanceLock(-1);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  return InstanceLock(fd);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace veltran
