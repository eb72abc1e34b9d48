#include <fcntl.h>
#include <sys/file.h>

#include <filesystem>
#include <functional>
#include <utility>

#include "instance_lock.h"

namespace veltran {

std::optional<InstanceLock> InstanceLock::Acquire(const std::string& scope) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("veltran-" + std::to_string(std::hash<std::string>{}(scope)) + ".lock");
  FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  // A lock file that cannot be made must not keep the tool from running.
  if (!fd) return InstanceLock(FileDescriptor());
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  return InstanceLock(std::move(fd));
}

}  // namespace veltran
