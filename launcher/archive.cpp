// The archive reader: minizip locates the central directory (skipping the executable image in
// front of the archive) and hands out raw entry data; inflating, size and CRC checks and the
// writing of the target are done here, so that a damaged entry never becomes a file.
#include "archive.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "os_files.h"

namespace veltran {
namespace {

constexpr std::size_t kPiece = 16384;
// Compressed data is read in larger blocks: fewer reads through minizip's buffer.
constexpr std::size_t kReadBlock = 65536;
constexpr std::size_t kNameCapacity = sizeof(ArchiveEntry::name);
constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ULL;

// Random-access reading of the archive's bytes, from a file or from memory.
class Source {
 public:
  virtual ~Source() = default;
  virtual bool Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t* got) = 0;
  virtual std::uint64_t Size() const = 0;
};

class FileSource final : public Source {
 public:
  FileSource(os::File file, std::uint64_t size) : file_(std::move(file)), size_(size) {}
  bool Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t* got) override {
    return os::ReadAt(file_, offset, buffer, size, got);
  }
  std::uint64_t Size() const override { return size_; }

 private:
  os::File file_;
  std::uint64_t size_;
};

class MemorySource final : public Source {
 public:
  MemorySource(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
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

// minizip's stream over a Source: a read position and an error flag.
struct Stream {
  Source* source;
  std::uint64_t position = 0;
  bool failed = false;
};

voidpf ZCALLBACK StreamOpen(voidpf opaque, const void*, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  return new Stream{static_cast<Source*>(opaque)};
}

uLong ZCALLBACK StreamRead(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* s = static_cast<Stream*>(stream);
  std::size_t got = 0;
  if (!s->source->Read(s->position, buffer, size, &got)) {
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
  const std::uint64_t size = s->source->Size();
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

// What the reader keeps of each entry besides its public record.
struct StoredEntry {
  unz64_file_pos position{};
  std::string fullName;
  ArchiveEntry record;
  bool usable = true;  // method, encryption, sizes and name allow extraction
  std::uint32_t crc = 0;
  int method = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
};

std::uint64_t UnixTimeToFileTime(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds * 10000000LL +
                                    static_cast<std::int64_t>(kUnixEpochFileTime));
}

// DOS times are local times.
std::uint64_t DosTimeToFileTime(std::uint32_t dosDateTime) {
  const std::uint32_t date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
  std::tm local{};
  local.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
  local.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
  local.tm_mday = static_cast<int>(date & 0x1F);
  local.tm_hour = static_cast<int>(time >> 11);
  local.tm_min = static_cast<int>((time >> 5) & 0x3F);
  local.tm_sec = static_cast<int>((time & 0x1F) * 2);
  local.tm_isdst = -1;
  const std::time_t t = std::mktime(&local);
  return t == static_cast<std::time_t>(-1) ? 0 : UnixTimeToFileTime(static_cast<std::int64_t>(t));
}

std::uint32_t MapAttributes(std::uint32_t external) {
  std::uint32_t attributes = kAttributeNormal;
  if ((external & 0x40000000u) || (external & 0x10u)) attributes = 0x90;
  if (external & 0x20u) attributes |= kAttributeArchive;
  if (external & 0x02u) attributes |= kAttributeHidden;
  if (external & 0x04u) attributes |= kAttributeSystem;
  if (!(external & 0x00800000u) || (external & 0x01u)) attributes |= kAttributeReadOnly;
  return attributes;
}

std::uint32_t ReadLe32(const unsigned char* p) {
  return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

// The extended-timestamp block ("UT"): a flags byte, then the times its bits announce, each a
// signed 32-bit Unix time. Times the block is too short to hold are left alone.
void ApplyTimestampBlock(const unsigned char* data, std::size_t length, ArchiveEntry* record) {
  if (length < 1) return;
  const unsigned flags = data[0];
  std::size_t at = 1;
  std::uint64_t* targets[3] = {&record->modificationTime, &record->accessTime,
                               &record->creationTime};
  for (unsigned bit = 0; bit < 3; ++bit) {
    if (!(flags & (1u << bit))) continue;
    if (at + 4 > length) return;
    const auto seconds = static_cast<std::int32_t>(ReadLe32(data + at));
    *targets[bit] = UnixTimeToFileTime(seconds);
    at += 4;
  }
}

void ApplyExtraField(const std::vector<unsigned char>& extra, ArchiveEntry* record) {
  if (extra.size() <= 4) return;
  std::size_t at = 0;
  while (extra.size() - at > 4) {
    const std::size_t length = extra[at + 2] | (std::size_t{extra[at + 3]} << 8);
    const std::size_t data = at + 4;
    if (extra[at] == 'U' && extra[at + 1] == 'T') {
      ApplyTimestampBlock(extra.data() + data, std::min(length, extra.size() - data), record);
      return;
    }
    if (length > extra.size() - data) return;
    at = data + length;
  }
}

void CopyName(const std::string& name, ArchiveEntry* record) {
  const std::size_t n = std::min(name.size(), kNameCapacity - 1);
  std::memcpy(record->name, name.data(), n);
  record->name[n] = '\0';
}

bool ReadCurrentEntry(unzFile zip, std::int32_t index, StoredEntry* entry) {
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
    return false;
  }
  std::vector<char> name(info.size_filename + 1, '\0');
  std::vector<unsigned char> extra(info.size_file_extra);
  if (unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size()),
                              extra.empty() ? nullptr : extra.data(),
                              static_cast<uLong>(extra.size()), nullptr, 0) != UNZ_OK ||
      unzGetFilePos64(zip, &entry->position) != UNZ_OK) {
    return false;
  }
  entry->fullName.assign(name.data(), info.size_filename);
  entry->crc = static_cast<std::uint32_t>(info.crc);
  entry->method = static_cast<int>(info.compression_method);
  entry->compressedSize = info.compressed_size;
  entry->uncompressedSize = info.uncompressed_size;
  entry->usable = (entry->method == 0 || entry->method == Z_DEFLATED) && !(info.flag & 1u) &&
                  info.compressed_size <= 0xFFFFFFFFu && info.uncompressed_size <= 0xFFFFFFFFu &&
                  entry->fullName.size() < kNameCapacity &&
                  entry->fullName.find('\0') == std::string::npos;

  ArchiveEntry& record = entry->record;
  record.index = index;
  CopyName(entry->fullName, &record);
  record.attributes = MapAttributes(static_cast<std::uint32_t>(info.external_fa));
  const std::uint64_t dosTime = DosTimeToFileTime(static_cast<std::uint32_t>(info.dosDate));
  record.accessTime = record.creationTime = record.modificationTime = dosTime;
  ApplyExtraField(extra, &record);
  record.compressedSize =
      static_cast<std::uint32_t>(std::min<ZPOS64_T>(info.compressed_size, 0xFFFFFFFFu));
  record.uncompressedSize =
      static_cast<std::uint32_t>(std::min<ZPOS64_T>(info.uncompressed_size, 0xFFFFFFFFu));
  return true;
}

bool NamesEqual(std::string_view a, std::string_view b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  if (!ignoreCase) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsDotsAndSpaces(std::string_view component) {
  return !component.empty() && component.find_first_not_of(". ") == std::string_view::npos &&
         component.find('.') != std::string_view::npos;
}

// Windows opens a device for these names, whatever follows a dot and whatever trailing spaces
// the stem has: "NUL.bin", "con .txt", "COM1".
bool IsDeviceName(std::string_view component) {
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (SameLettersIgnoringCase(stem, device)) return true;
  }
  // COM and LPT with a digit, or with a superscript one, two or three (Latin-1 or UTF-8).
  if (stem.size() < 4 || !(SameLettersIgnoringCase(stem.substr(0, 3), "COM") ||
                           SameLettersIgnoringCase(stem.substr(0, 3), "LPT"))) {
    return false;
  }
  const std::string_view number = stem.substr(3);
  if (number.size() == 1) {
    const auto c = static_cast<unsigned char>(number[0]);
    return (c >= '0' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
  }
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

// Windows drops trailing dots and spaces, so such a name would land under another one.
bool IsSafeComponent(std::string_view component) {
  if (IsDotsAndSpaces(component) || IsDeviceName(component)) return false;
  return component.empty() || (component.back() != '.' && component.back() != ' ');
}

// Receives inflated data in pieces.
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

}  // namespace

struct Archive {
  std::unique_ptr<Source> source;
  zlib_filefunc64_def io{};
  unzFile zip = nullptr;
  std::string base;
  std::vector<StoredEntry> entries;
  ArchiveEntry cached;

  ~Archive() {
    if (zip) unzClose(zip);
  }
};

void ArchiveCloser::operator()(Archive* archive) const { delete archive; }

namespace {

std::unique_ptr<Source> OpenSource(const void* source, std::uint32_t length, ArchiveSource kind) {
  if (kind == ArchiveSource::kMemory) {
    if (!source) return nullptr;
    return std::make_unique<MemorySource>(static_cast<const unsigned char*>(source), length);
  }
  os::File file;
  if (kind == ArchiveSource::kFileName && source) {
    file = os::OpenForReading(static_cast<const char*>(source));
  } else if (kind == ArchiveSource::kHandle) {
    file = os::DuplicateDiskFile(reinterpret_cast<std::intptr_t>(source));
  }
  std::uint64_t size = 0;
  if (!file || !os::FileSize(file, &size)) return nullptr;
  return std::make_unique<FileSource>(std::move(file), size);
}

bool IndexEntries(Archive* archive) {
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(archive->zip, &global) != UNZ_OK) return false;
  // The count comes from the file; every entry must be present before memory is set aside.
  if (global.number_entry > archive->source->Size() / 46 || global.number_entry > 0x7FFFFFFF) {
    return false;
  }
  archive->entries.resize(static_cast<std::size_t>(global.number_entry));
  int rc = global.number_entry ? unzGoToFirstFile(archive->zip) : UNZ_OK;
  for (std::size_t i = 0; i < archive->entries.size(); ++i) {
    if (i > 0) rc = unzGoToNextFile(archive->zip);
    if (rc != UNZ_OK ||
        !ReadCurrentEntry(archive->zip, static_cast<std::int32_t>(i), &archive->entries[i])) {
      return false;
    }
  }
  return true;
}

// Creates each directory level of `relative` (separators already native) below the base.
void CreateDirectoryChain(const std::string& base, const std::string& relative) {
  const char separator = os::PathSeparator();
  for (std::size_t at = relative.find(separator); at != std::string::npos;
       at = relative.find(separator, at + 1)) {
    if (at > 0) os::CreateDirectoryLevel(base + relative.substr(0, at));
  }
}

std::string NativeSeparators(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (IsSeparator(c)) c = os::PathSeparator();
  }
  return out;
}

int Inflate(Archive& archive, const StoredEntry& entry, Sink& sink) {
  unz64_file_pos position = entry.position;
  int method = 0, level = 0;
  if (unzGoToFilePos64(archive.zip, &position) != UNZ_OK ||
      unzOpenCurrentFile2(archive.zip, &method, &level, 1) != UNZ_OK) {
    return kArchiveDataError;
  }
  std::vector<unsigned char> in(kReadBlock), out(kPiece);
  z_stream stream{};
  const bool deflated = entry.method == Z_DEFLATED;
  if (deflated && inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
    unzCloseCurrentFile(archive.zip);
    return kArchiveDataError;
  }
  std::uint64_t compressedLeft = entry.compressedSize, produced = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  int result = kArchiveOk;
  bool ended = !deflated && compressedLeft == 0;
  while (!ended && result == kArchiveOk) {
    if (stream.avail_in == 0 && compressedLeft > 0) {
      const auto want = static_cast<unsigned>(
          std::min<std::uint64_t>(deflated ? kReadBlock : kPiece, compressedLeft));
      const int got = unzReadCurrentFile(archive.zip, in.data(), want);
      if (got <= 0) {
        result = kArchiveDataError;
        break;
      }
      compressedLeft -= static_cast<unsigned>(got);
      stream.next_in = in.data();
      stream.avail_in = static_cast<uInt>(got);
    }
    std::size_t have = 0;
    const unsigned char* piece = out.data();
    if (deflated) {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(kPiece);
      const int rc = inflate(&stream, Z_NO_FLUSH);
      have = kPiece - stream.avail_out;
      if (rc == Z_STREAM_END) {
        ended = true;
      } else if ((rc != Z_OK && !(rc == Z_BUF_ERROR && have > 0)) ||
                 (have == 0 && stream.avail_in == 0 && compressedLeft == 0)) {
        // A broken stream, or data that end before the deflate stream does.
        result = kArchiveDataError;
      }
    } else {
      piece = in.data();
      have = stream.avail_in;
      stream.avail_in = 0;
      ended = compressedLeft == 0;
    }
    if (result != kArchiveOk) break;
    if (have > entry.uncompressedSize - produced) {
      result = kArchiveDataError;
      break;
    }
    produced += have;
    crc = crc32(crc, piece, static_cast<uInt>(have));
    if (have > 0 && !sink.Write(piece, have)) result = kArchiveWriteError;
  }
  if (deflated) inflateEnd(&stream);
  unzCloseCurrentFile(archive.zip);
  if (result == kArchiveOk &&
      (produced != entry.uncompressedSize || static_cast<std::uint32_t>(crc) != entry.crc)) {
    result = kArchiveDataError;
  }
  return result;
}

// The target is replaced, never written through: a link planted under its name is removed
// and the new file is created exclusively. Attributes go on through the open handle.
int ExtractToFile(Archive& archive, const StoredEntry& entry, std::string_view target) {
  if (!IsSafeEntryName(target)) return kArchiveArgumentError;
  const std::string relative = NativeSeparators(target);
  if (entry.record.attributes & kAttributeDirectory) {
    CreateDirectoryChain(archive.base, relative + os::PathSeparator());
    return kArchiveOk;
  }
  CreateDirectoryChain(archive.base, relative);
  const std::string path = archive.base + relative;
  os::RemoveFile(path);
  int result = kArchiveOk;
  {
    os::File file = os::CreateNewFile(path);
    if (!file) return kArchiveWriteError;
    FileSink sink(file);
    result = Inflate(archive, entry, sink);
    if (result == kArchiveOk &&
        (!os::SetFileTimes(file, entry.record.creationTime, entry.record.accessTime,
                           entry.record.modificationTime) ||
         !os::SetAttributes(file, entry.record.attributes & ~std::uint32_t{kAttributeNormal}))) {
      result = kArchiveWriteError;
    }
  }
  if (result != kArchiveOk) os::RemoveFile(path);
  return result;
}

// Into a file the caller opened; what a damaged entry wrote there is the caller's to discard.
int ExtractToHandle(Archive& archive, const StoredEntry& entry, std::intptr_t native) {
  if (entry.record.attributes & kAttributeDirectory) return kArchiveOk;
  os::File file(native);
  FileSink sink(file);
  const int result = Inflate(archive, entry, sink);
  file.Release();
  return result;
}

}  // namespace

ArchiveHandle ArchiveOpen(const void* source, std::uint32_t length, ArchiveSource kind) {
  auto archive = ArchiveHandle(new Archive);
  archive->source = OpenSource(source, length, kind);
  if (!archive->source) return nullptr;
  archive->io.zopen64_file = StreamOpen;
  archive->io.zread_file = StreamRead;
  archive->io.zwrite_file = StreamWrite;
  archive->io.ztell64_file = StreamTell;
  archive->io.zseek64_file = StreamSeek;
  archive->io.zclose_file = StreamClose;
  archive->io.zerror_file = StreamError;
  archive->io.opaque = archive->source.get();
  archive->zip = unzOpen2_64("", &archive->io);
  if (!archive->zip || !IndexEntries(archive.get())) return nullptr;
  archive->base = os::CurrentDirectory();
  if (archive->base.empty()) return nullptr;
  if (!IsSeparator(archive->base.back())) archive->base += os::PathSeparator();
  return archive;
}

int ArchiveGetEntry(const ArchiveHandle& handle, std::int32_t index, ArchiveEntry* entry) {
  if (!handle || !entry) return kArchiveArgumentError;
  const auto count = static_cast<std::int32_t>(handle->entries.size());
  if (index < -1 || index >= count) return kArchiveArgumentError;
  if (index == -1) {
    *entry = ArchiveEntry{};
    entry->index = count;
    return kArchiveOk;
  }
  handle->cached = handle->entries[static_cast<std::size_t>(index)].record;
  *entry = handle->cached;
  return kArchiveOk;
}

int ArchiveFindEntry(const ArchiveHandle& handle, std::string_view name, bool ignoreCase,
                     std::int32_t* index, ArchiveEntry* entry) {
  if (!handle || !index || !entry) return kArchiveArgumentError;
  for (const StoredEntry& stored : handle->entries) {
    if (stored.fullName.size() < kNameCapacity && NamesEqual(stored.fullName, name, ignoreCase)) {
      *index = stored.record.index;
      handle->cached = stored.record;
      *entry = stored.record;
      return kArchiveOk;
    }
  }
  *index = -1;
  *entry = ArchiveEntry{};
  entry->index = -1;
  return kArchiveNotFound;
}

int ArchiveExtract(const ArchiveHandle& handle, std::int32_t index, void* target,
                   std::uint32_t length, ArchiveSource kind) {
  if (!handle || !target || index < 0 ||
      index >= static_cast<std::int32_t>(handle->entries.size())) {
    return kArchiveArgumentError;
  }
  const StoredEntry& entry = handle->entries[static_cast<std::size_t>(index)];
  if (!entry.usable) return kArchiveBadEntry;
  if (kind == ArchiveSource::kFileName) {
    return ExtractToFile(*handle, entry, static_cast<const char*>(target));
  }
  if (kind == ArchiveSource::kHandle) {
    return ExtractToHandle(*handle, entry, reinterpret_cast<std::intptr_t>(target));
  }
  if (kind == ArchiveSource::kMemory) {
    if (entry.record.attributes & kAttributeDirectory) return kArchiveOk;
    if (entry.uncompressedSize > length) return kArchiveArgumentError;
    MemorySink sink(static_cast<unsigned char*>(target), length);
    return Inflate(*handle, entry, sink);
  }
  return kArchiveArgumentError;
}

void ArchiveClose(ArchiveHandle& handle) { handle.reset(); }

bool IsSafeEntryName(std::string_view name) {
  if (name.empty() || IsSeparator(name[0])) return false;
  if (name.find(':') != std::string_view::npos || name.find('\0') != std::string_view::npos) {
    return false;
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (!IsSafeComponent(name.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace veltran
