// minizip reads the archive through these callbacks, so that a file handle, a file name and a
// memory block are all read the same way, at any offset, with no position shared with the caller.
#include "archive_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "os_files.h"

namespace veltran {
namespace {

class FileBytes final : public ArchiveBytes {
 public:
  FileBytes(os::File file, std::uint64_t size) : file_(std::move(file)), size_(size) {}
  bool Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t* got) override {
    return os::ReadAt(file_, offset, buffer, size, got);
  }
  std::uint64_t Size() const override { return size_; }

 private:
  os::File file_;
  std::uint64_t size_;
};

class MemoryBytes final : public ArchiveBytes {
 public:
  MemoryBytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
  bool Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t* got) override {
    *got = 0;
    if (offset >= size_) return true;
    *got = std::min<std::size_t>(size, size_ - static_cast<std::size_t>(offset));
    std::memcpy(buffer, data_ + offset, *got);
    return true;
  }
  std::uint64_t Size() const override { return size_; }

 private:
  const unsigned char* data_;
  std::size_t size_;
};

// One stream of minizip's: a read position and an error flag.
struct Stream {
  ArchiveBytes* bytes;
  std::uint64_t position = 0;
  bool failed = false;
};

voidpf ZCALLBACK StreamOpen(voidpf opaque, const void*, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  return new Stream{static_cast<ArchiveBytes*>(opaque)};
}

uLong ZCALLBACK StreamRead(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* s = static_cast<Stream*>(stream);
  std::size_t got = 0;
  if (!s->bytes->Read(s->position, buffer, size, &got)) {
    s->failed = true;
    return 0;
  }
  s->position += got;
  return static_cast<uLong>(got);
}

uLong ZCALLBACK StreamWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK StreamTell(voidpf, voidpf stream) {
  return static_cast<Stream*>(stream)->position;
}

long ZCALLBACK StreamSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* s = static_cast<Stream*>(stream);
  const std::uint64_t size = s->bytes->Size();
  std::uint64_t base = 0;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) base = s->position;
  if (origin == ZLIB_FILEFUNC_SEEK_END) base = size;
  // minizip moves backwards with a "negative" offset that wraps around.
  const std::uint64_t target = base + offset;
  if (target > size) return -1;
  s->position = target;
  return 0;
}

int ZCALLBACK StreamClose(voidpf, voidpf stream) {
  delete static_cast<Stream*>(stream);
  return 0;
}

int ZCALLBACK StreamError(voidpf, voidpf stream) {
  return static_cast<Stream*>(stream)->failed ? 1 : 0;
}

}  // namespace

std::unique_ptr<ArchiveBytes> OpenArchiveBytes(const void* source, std::uint32_t length,
                                               ArchiveSource kind) {
  if (kind == ArchiveSource::kMemory) {
    if (!source) return nullptr;
    return std::make_unique<MemoryBytes>(static_cast<const unsigned char*>(source), length);
  }
  os::File file;
  if (kind == ArchiveSource::kFileName && source) {
    file = os::OpenForReading(static_cast<const char*>(source));
  } else if (kind == ArchiveSource::kHandle) {
    file = os::DuplicateDiskFile(reinterpret_cast<std::intptr_t>(source));
  }
  std::uint64_t size = 0;
  if (!file || !os::FileSize(file, &size)) return nullptr;
  return std::make_unique<FileBytes>(std::move(file), size);
}

zlib_filefunc64_def StreamOver(ArchiveBytes& bytes) {
  zlib_filefunc64_def io{};
  io.zopen64_file = StreamOpen;
  io.zread_file = StreamRead;
  io.zwrite_file = StreamWrite;
  io.ztell64_file = StreamTell;
  io.zseek64_file = StreamSeek;
  io.zclose_file = StreamClose;
  io.zerror_file = StreamError;
  io.opaque = &bytes;
  return io;
}

}  // namespace veltran
