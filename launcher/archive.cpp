// The archive's directory: minizip locates the central directory (skipping the executable image
// in front of the archive); each entry's record is read once at open time and every lookup and
// extraction works from those records.
#include "archive.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "archive_stream.h"
#include "common/ascii.h"
#include "entry_extraction.h"
#include "entry_names.h"
#include "file_time.h"
#include "os_files.h"

namespace veltran {
namespace {

constexpr std::size_t kNameCapacity = sizeof(ArchiveEntry::name);
// The smallest central directory record: an entry count above size / 46 cannot be true.
constexpr std::uint64_t kSmallestDirectoryRecord = 46;

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

void FillRecord(std::int32_t index, const unz_file_info64& info,
                const std::vector<unsigned char>& extra, StoredEntry* entry) {
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
  FillRecord(index, info, extra, entry);
  return true;
}

}  // namespace

struct Archive {
  std::unique_ptr<ArchiveBytes> bytes;
  unzFile zip = nullptr;
  std::string base;
  std::vector<StoredEntry> entries;

  ~Archive() {
    if (zip) unzClose(zip);
  }
};

void ArchiveCloser::operator()(Archive* archive) const { delete archive; }

namespace {

bool IndexEntries(Archive* archive) {
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(archive->zip, &global) != UNZ_OK) return false;
  // The count comes from the file; every entry must be present before memory is set aside.
  if (global.number_entry > archive->bytes->Size() / kSmallestDirectoryRecord ||
      global.number_entry > 0x7FFFFFFF) {
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

}  // namespace

ArchiveHandle ArchiveOpen(const void* source, std::uint32_t length, ArchiveSource kind) {
  auto archive = ArchiveHandle(new Archive);
  archive->bytes = OpenArchiveBytes(source, length, kind);
  if (!archive->bytes) return nullptr;
  // minizip keeps its own copy of the callbacks.
  zlib_filefunc64_def io = StreamOver(*archive->bytes);
  archive->zip = unzOpen2_64("", &io);
  if (!archive->zip || !IndexEntries(archive.get())) return nullptr;
  archive->base = os::CurrentDirectory();
  if (archive->base.empty()) return nullptr;
  if (!IsNameSeparator(archive->base.back())) archive->base += os::PathSeparator();
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
  *entry = handle->entries[static_cast<std::size_t>(index)].record;
  return kArchiveOk;
}

int ArchiveFindEntry(const ArchiveHandle& handle, std::string_view name, bool ignoreCase,
                     std::int32_t* index, ArchiveEntry* entry) {
  if (!handle || !index || !entry) return kArchiveArgumentError;
  for (const StoredEntry& stored : handle->entries) {
    const std::string_view full = stored.fullName;
    if (full.size() < kNameCapacity &&
        (ignoreCase ? SameLettersIgnoringCase(full, name) : full == name)) {
      *index = stored.record.index;
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
  switch (kind) {
    case ArchiveSource::kFileName:
      return ExtractToFile(handle->zip, handle->base, entry, static_cast<const char*>(target));
    case ArchiveSource::kHandle:
      return ExtractToHandle(handle->zip, entry, reinterpret_cast<std::intptr_t>(target));
    case ArchiveSource::kMemory:
      return ExtractToMemory(handle->zip, entry, target, length);
  }
  return kArchiveArgumentError;
}

void ArchiveClose(ArchiveHandle& handle) { handle.reset(); }

}  // namespace veltran
