// The parts of the launcher's file calls that are the same on every OS.
#include "os_files.h"

#include <vector>

namespace veltran::os {

bool CopyContent(const File& source, const File& target) {
  std::vector<char> buffer(65536);
  for (std::uint64_t offset = 0;;) {
    std::size_t got = 0;
    if (!ReadAt(source, offset, buffer.data(), buffer.size(), &got)) return false;
    if (got == 0) return true;
    if (!WriteAll(target, buffer.data(), got)) return false;
    offset += got;
  }
}

StagingFolder& StagingFolder::operator=(StagingFolder&& other) noexcept {
  if (this != &other) {
    Remove();
    folder_ = std::move(other.folder_);
    parent_ = std::move(other.parent_);
    name_ = std::move(other.name_);
    path_ = std::move(other.path_);
  }
  return *this;
}

StagingFolder::~StagingFolder() { Remove(); }

PendingFile::PendingFile(PendingFile&& other) noexcept
    : directory_(std::move(other.directory_)),
      directoryPath_(std::move(other.directoryPath_)),
      name_(std::move(other.name_)),
      stamp_(other.stamp_) {
  other.name_.clear();
}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    Remove();
    directory_ = std::move(other.directory_);
    directoryPath_ = std::move(other.directoryPath_);
    name_ = std::move(other.name_);
    other.name_.clear();
    stamp_ = other.stamp_;
  }
  return *this;
}

PendingFile::~PendingFile() { Remove(); }

}  // namespace veltran::os
