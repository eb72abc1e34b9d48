// The bytes of an archive, from a file or from memory, and minizip's stream over them.
#pragma once

#include <ioapi.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "archive.h"

namespace veltran {

// Random-access reading of the archive's bytes.
class ArchiveBytes {
 public:
  virtual ~ArchiveBytes() = default;
  // Reads what there is of `size` bytes at `offset`; false only when the source failed.
  virtual bool Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t* got) = 0;
  virtual std::uint64_t Size() const = 0;
};

// Null when the source cannot be opened: a kHandle source that is not a regular disk file, a
// file name that cannot be read, a null pointer.
std::unique_ptr<ArchiveBytes> OpenArchiveBytes(const void* source, std::uint32_t length,
                                               ArchiveSource kind);

// The read-only stream minizip opens over `bytes`, which must outlive every stream it opens.
zlib_filefunc64_def StreamOver(ArchiveBytes& bytes);

}  // namespace veltran
