// Reader for the zip archive that a package carries behind the launcher's executable image.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace veltran {

// One archive entry as the reader reports it. Times are file times (100 ns units since
// 1601-01-01 UTC); attributes are Windows file attribute bits.
struct ArchiveEntry {
  std::int32_t index = 0;  // for the query index -1: the number of entries
  char name[260] = {};     // always NUL-terminated; longer names are cut and never match a lookup
  std::uint32_t attributes = 0;
  std::uint64_t accessTime = 0;
  std::uint64_t creationTime = 0;
  std::uint64_t modificationTime = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
};

inline constexpr std::uint32_t kAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kAttributeHidden = 0x02;
inline constexpr std::uint32_t kAttributeSystem = 0x04;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kAttributeNormal = 0x80;

// Where an archive is read from, or where an entry is extracted to.
enum class ArchiveSource : int {
  kHandle = 1,    // an open native file (HANDLE or file descriptor); the reader keeps a duplicate
  kFileName = 2,  // a NUL-terminated file name
  kMemory = 3,    // a memory block of the given length, kept alive by the caller until close
};

// Result codes; every value but kArchiveOk is a failure.
inline constexpr int kArchiveOk = 0;
inline constexpr int kArchiveArgumentError = 1;
inline constexpr int kArchiveNotFound = 2;
inline constexpr int kArchiveBadEntry = 3;    // unsupported method, encrypted, unusable name
inline constexpr int kArchiveDataError = 4;   // truncated, inflate error, size or CRC mismatch
inline constexpr int kArchiveWriteError = 5;  // target could not be created or written

struct Archive;
struct ArchiveCloser {
  void operator()(Archive* archive) const;
};
using ArchiveHandle = std::unique_ptr<Archive, ArchiveCloser>;

// Opens an archive; an empty handle when the source cannot be opened or holds no readable
// archive. Data in front of the archive (an executable image) is skipped. The directory current
// at open time is the base below which extraction writes.
ArchiveHandle ArchiveOpen(const void* source, std::uint32_t length, ArchiveSource kind);

int ArchiveGetEntry(const ArchiveHandle& handle, std::int32_t index, ArchiveEntry* entry);

// Finds the first entry in archive order whose whole name equals `name` (ASCII letters compared
// without case when ignoreCase is set).
int ArchiveFindEntry(const ArchiveHandle& handle, std::string_view name, bool ignoreCase,
                     std::int32_t* index, ArchiveEntry* entry);

// Extracts an entry. kFileName: `target` is a name relative to the base directory; names that
// would leave it are refused, a file or link already there is replaced rather than written
// through, and a damaged entry leaves no file behind. kHandle: `target` is an open native file
// written from its current position. kMemory: `target` is a buffer of `length` bytes that must
// hold the whole entry.
int ArchiveExtract(const ArchiveHandle& handle, std::int32_t index, void* target,
                   std::uint32_t length, ArchiveSource kind);

void ArchiveClose(ArchiveHandle& handle);

// True when writing a file of this name cannot leave the directory it is written in nor reach
// anything but a file of that name: not empty, not absolute, no drive letter or colon, no UNC
// prefix, no NUL, and no component that is made only of dots and spaces ("..", "... "), ends in
// a dot or a space, or names a device (CON, PRN, AUX, NUL, COM0-9, LPT0-9, with any extension).
bool IsSafeEntryName(std::string_view name);

}  // namespace veltran
