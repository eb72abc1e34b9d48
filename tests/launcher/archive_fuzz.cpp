// Feeds arbitrary bytes to the archive reader as an in-memory archive and reads every entry:
// into memory, into an open file, and to files under the entries' own names in a scratch folder.
#include <fcntl.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "archive.h"

namespace {

constexpr std::uint32_t kLargestExtraction = 1 << 20;

void CheckTerminated(const veltran::ArchiveEntry& entry) {
  if (std::memchr(entry.name, '\0', sizeof entry.name) == nullptr) std::abort();
}

// The scratch folder is the current directory, so the reader's base; emptied after each input.
const std::filesystem::path& Scratch() {
  static const std::filesystem::path folder = [] {
    char name[] = "/tmp/archive-fuzz-XXXXXX";
    if (!::mkdtemp(name) || ::chdir(name) != 0) std::abort();
    return std::filesystem::path(name);
  }();
  return folder;
}

void EmptyScratch() {
  std::error_code ignored;
  for (const auto& item : std::filesystem::directory_iterator(Scratch(), ignored)) {
    std::filesystem::permissions(item.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(item.path(), ignored);
  }
}

// Into an open file: never more than the declared size, whatever the data inflate to.
void ExtractToHandle(const veltran::ArchiveHandle& archive, std::int32_t index,
                     std::uint32_t declared) {
  const int fd = ::open((Scratch() / ".handle").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) std::abort();
  veltran::ArchiveExtract(archive, index, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)),
                          0, veltran::ArchiveSource::kHandle);
  if (::lseek(fd, 0, SEEK_END) > static_cast<off_t>(declared)) std::abort();
  ::close(fd);
}

// Under the entry's own name, below the scratch folder (the reader refuses names that leave it).
void ExtractToFile(const veltran::ArchiveHandle& archive, std::int32_t index, const char* name) {
  std::string target = name;
  veltran::ArchiveExtract(archive, index, target.data(), 0, veltran::ArchiveSource::kFileName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veltran;
  Scratch();  // made current before the archive takes the current directory as its base
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
    ExtractToHandle(archive, i, length);
    ExtractToFile(archive, i, entry.name);
  }
  EmptyScratch();
  ArchiveGetEntry(archive, count, &entry);
  ArchiveGetEntry(archive, -2, &entry);
  ArchiveClose(archive);
  return 0;
}
