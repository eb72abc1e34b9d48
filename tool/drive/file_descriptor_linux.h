// The owner of a POSIX file descriptor, for the Linux back end and the console front end.
#pragma once

#include <unistd.h>

#include "common/unique_handle.h"

namespace veltran {

struct FileDescriptorTraits {
  using Handle = int;
  // What open(2), pipe(2) and their kin hand back on failure; 0 is a descriptor like any other.
  static constexpr Handle Empty() { return -1; }
  static void Close(Handle fd) { ::close(fd); }
};
using FileDescriptor = UniqueHandle<FileDescriptorTraits>;

}  // namespace veltran
