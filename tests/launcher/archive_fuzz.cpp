// Feeds arbitrary bytes to the archive reader as an in-memory archive and reads every entry.
#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive.h"

namespace {

constexpr std::uint32_t kLargestExtraction = 1 << 20;

void CheckTerminated(const veltran::ArchiveEntry& entry) {
  if (std::memchr(entry.name, '\0', sizeof entry.name) == nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veltran;
  ArchiveHandle archive =
      ArchiveOpen(data, static_cast<std::uint32_t>(size), ArchiveSource::kMemory);
  if (!archive) return 0;
  ArchiveEntry entry;
  if (ArchiveGetEntry(archive, -1, &entry) != kArchiveOk) std::abort();
  const std::int32_t count = entry.index;
  std::vector<unsigned char> buffer;
  for (std::int32_t i = 0; i < count && i < 64; ++i) {
    if (ArchiveGetEntry(archive, i, &entry) != kArchiveOk) std::abort();
    CheckTerminated(entry);
    std::int32_t found = -2;
    ArchiveEntry match;
    if (ArchiveFindEntry(archive, entry.name, true, &found, &match) == kArchiveOk) {
      if (found < 0 || found >= count || match.index != found) std::abort();
      CheckTerminated(match);
      if (strcasecmp(match.name, entry.name) != 0) std::abort();
    } else if (found != -1 || match.index != -1) {
      std::abort();
    }
    IsSafeEntryName(entry.name);
    const std::uint32_t length = entry.uncompressedSize;
    if (length > kLargestExtraction) continue;
    buffer.assign(length + 1, 0xA5);
    const int result = ArchiveExtract(archive, i, buffer.data(), length, ArchiveSource::kMemory);
    // Nothing may be written past the declared size, whatever the data inflate to.
    if (buffer[length] != 0xA5) std::abort();
    (void)result;
  }
  ArchiveGetEntry(archive, count, &entry);
  ArchiveGetEntry(archive, -2, &entry);
  ArchiveClose(archive);
  return 0;
}
