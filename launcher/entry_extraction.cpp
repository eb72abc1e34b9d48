// Every piece is counted against the entry's declared size before it reaches the target, so an
// entry never writes more than it declared, whatever its data inflate to.
#include "entry_extraction.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "entry_names.h"
#include "os_files.h"

namespace veltran {
namespace {

constexpr std::size_t kPiece = 16384;
// Compressed data is read in larger blocks: fewer reads through minizip's buffer.
constexpr std::size_t kReadBlock = 65536;

// Receives the entry's data in pieces.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool Write(const unsigned char* data, std::size_t size) = 0;
};

class FileSink final : public Sink {
 public:
  explicit FileSink(const os::File& file) : file_(file) {}
  bool Write(const unsigned char* data, std::size_t size) override {
    return os::WriteAll(file_, data, size);
  }

 private:
  const os::File& file_;
};

class MemorySink final : public Sink {
 public:
  MemorySink(unsigned char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  bool Write(const unsigned char* data, std::size_t size) override {
    if (size > capacity_ - used_) return false;
    std::memcpy(buffer_ + used_, data, size);
    used_ += size;
    return true;
  }

 private:
  unsigned char* buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

// The entry's data as stored, still compressed; open for as long as this object lives.
class RawData {
 public:
  RawData(unzFile zip, const StoredEntry& entry) : zip_(zip), left_(entry.compressedSize) {
    unz64_file_pos position = entry.position;
    int method = 0, level = 0;
    open_ = unzGoToFilePos64(zip, &position) == UNZ_OK &&
            unzOpenCurrentFile2(zip, &method, &level, 1) == UNZ_OK;
  }
  ~RawData() {
    if (open_) unzCloseCurrentFile(zip_);
  }
  RawData(const RawData&) = delete;
  RawData& operator=(const RawData&) = delete;

  bool open() const { return open_; }
  std::uint64_t left() const { return left_; }
  // The next piece, at most `size` bytes; 0 when the data end early or cannot be read.
  std::size_t Read(unsigned char* buffer, std::size_t size) {
    const auto want = static_cast<unsigned>(std::min<std::uint64_t>(size, left_));
    const int got = unzReadCurrentFile(zip_, buffer, want);
    if (got <= 0) return 0;
    left_ -= static_cast<unsigned>(got);
    return static_cast<std::size_t>(got);
  }

 private:
  unzFile zip_;
  std::uint64_t left_;
  bool open_ = false;
};

// Passes the data on to a sink while counting them against the entry's size and CRC.
class CheckedOutput {
 public:
  CheckedOutput(Sink& sink, const StoredEntry& entry) : sink_(sink), entry_(entry) {}

  // A piece beyond the entry's size is a data error and is not written.
  int Put(const unsigned char* data, std::size_t size) {
    if (size > entry_.uncompressedSize - produced_) return kArchiveDataError;
    produced_ += size;
    crc_ = crc32(crc_, data, static_cast<uInt>(size));
    if (size > 0 && !sink_.Write(data, size)) return kArchiveWriteError;
    return kArchiveOk;
  }
  // Everything the entry announced arrived, and it is what the entry announced.
  bool Whole() const {
    return produced_ == entry_.uncompressedSize && static_cast<std::uint32_t>(crc_) == entry_.crc;
  }

 private:
  Sink& sink_;
  const StoredEntry& entry_;
  std::uint64_t produced_ = 0;
  uLong crc_ = crc32(0L, Z_NULL, 0);
};

int CopyStored(RawData& raw, CheckedOutput& output) {
  std::vector<unsigned char> piece(kPiece);
  while (raw.left() > 0) {
    const std::size_t got = raw.Read(piece.data(), piece.size());
    if (got == 0) return kArchiveDataError;
    const int result = output.Put(piece.data(), got);
    if (result != kArchiveOk) return result;
  }
  return kArchiveOk;
}

// Runs a raw deflate stream to its end; compressed data after the end are left unread.
int InflateStream(z_stream& stream, RawData& raw, CheckedOutput& output) {
  std::vector<unsigned char> in(kReadBlock), out(kPiece);
  for (;;) {
    if (stream.avail_in == 0 && raw.left() > 0) {
      const std::size_t got = raw.Read(in.data(), in.size());
      if (got == 0) return kArchiveDataError;
      stream.next_in = in.data();
      stream.avail_in = static_cast<uInt>(got);
    }
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&stream, Z_NO_FLUSH);
    const std::size_t have = out.size() - stream.avail_out;
    const bool ended = rc == Z_STREAM_END;
    // A broken stream, or data that end before the deflate stream does.
    if (!ended && ((rc != Z_OK && !(rc == Z_BUF_ERROR && have > 0)) ||
                   (have == 0 && stream.avail_in == 0 && raw.left() == 0))) {
      return kArchiveDataError;
    }
    const int result = output.Put(out.data(), have);
    if (result != kArchiveOk || ended) return result;
  }
}

int Inflate(RawData& raw, CheckedOutput& output) {
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return kArchiveDataError;
  const int result = InflateStream(stream, raw, output);
  inflateEnd(&stream);
  return result;
}

int ExtractData(unzFile zip, const StoredEntry& entry, Sink& sink) {
  RawData raw(zip, entry);
  if (!raw.open()) return kArchiveDataError;
  CheckedOutput output(sink, entry);
  const int result = entry.method == Z_DEFLATED ? Inflate(raw, output) : CopyStored(raw, output);
  if (result != kArchiveOk) return result;
  return output.Whole() ? kArchiveOk : kArchiveDataError;
}

// Creates each directory level of `relative` (separators already native) below the base.
void CreateDirectoryChain(const std::string& base, const std::string& relative) {
  const char separator = os::PathSeparator();
  for (std::size_t at = relative.find(separator); at != std::string::npos;
       at = relative.find(separator, at + 1)) {
    if (at > 0) os::CreateDirectoryLevel(base + relative.substr(0, at));
  }
}

// Attributes go on through the open handle.
int FillFile(const os::File& file, unzFile zip, const StoredEntry& entry) {
  FileSink sink(file);
  const int result = ExtractData(zip, entry, sink);
  if (result != kArchiveOk) return result;
  const ArchiveEntry& record = entry.record;
  if (!os::SetFileTimes(file, record.creationTime, record.accessTime, record.modificationTime) ||
      !os::SetAttributes(file, record.attributes & ~std::uint32_t{kAttributeNormal})) {
    return kArchiveWriteError;
  }
  return kArchiveOk;
}

}  // namespace

// The target is replaced, never written through: a link planted under its name is removed
// and the new file is created exclusively.
int ExtractToFile(unzFile zip, const std::string& base, const StoredEntry& entry,
                  std::string_view target) {
  if (!IsSafeEntryName(target)) return kArchiveArgumentError;
  const std::string relative = NativeSeparators(target);
  if (entry.record.attributes & kAttributeDirectory) {
    CreateDirectoryChain(base, relative + os::PathSeparator());
    return kArchiveOk;
  }
  CreateDirectoryChain(base, relative);
  const std::string path = base + relative;
  os::RemoveFile(path);
  int result = kArchiveOk;
  {  // closed before a damaged file is removed
    const os::File file = os::CreateNewFile(path);
    if (!file) return kArchiveWriteError;
    result = FillFile(file, zip, entry);
  }
  if (result != kArchiveOk) os::RemoveFile(path);
  return result;
}

int ExtractToHandle(unzFile zip, const StoredEntry& entry, std::intptr_t native) {
  if (entry.record.attributes & kAttributeDirectory) return kArchiveOk;
  os::File file(native);
  FileSink sink(file);
  const int result = ExtractData(zip, entry, sink);
  file.Release();  // the caller's
  return result;
}

int ExtractToMemory(unzFile zip, const StoredEntry& entry, void* buffer, std::uint32_t length) {
  if (entry.record.attributes & kAttributeDirectory) return kArchiveOk;
  if (entry.uncompressedSize > length) return kArchiveArgumentError;
  MemorySink sink(static_cast<unsigned char*>(buffer), length);
  return ExtractData(zip, entry, sink);
}

}  // namespace veltran
