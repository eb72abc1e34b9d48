// The reader's calls as the tests make them again and again.
#pragma once

#include <cstdint>
#include <string>

#include "archive.h"
#include "zip_builder.h"

namespace veltran::testing {

inline ArchiveHandle OpenMemory(const Bytes& bytes) {
  return ArchiveOpen(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                     ArchiveSource::kMemory);
}

// Into a file of that name below the folder current when the archive was opened.
inline int ExtractTo(const ArchiveHandle& archive, std::int32_t index, std::string name) {
  return ArchiveExtract(archive, index, name.data(), 0, ArchiveSource::kFileName);
}

}  // namespace veltran::testing
