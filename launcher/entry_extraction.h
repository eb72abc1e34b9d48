// Extraction of one entry: minizip hands out the raw data, which are copied or inflated here and
// checked against the entry's size and CRC, so that a damaged entry never becomes a file.
#pragma once

#include <unzip.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "archive.h"

namespace veltran {

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

// Each returns one of the kArchive result codes. The entry must be usable.

// `target` is relative to `base` (which ends in a separator); see ArchiveExtract.
int ExtractToFile(unzFile zip, const std::string& base, const StoredEntry& entry,
                  std::string_view target);
// Into a file the caller opened; what a damaged entry wrote there is the caller's to discard.
int ExtractToHandle(unzFile zip, const StoredEntry& entry, std::intptr_t native);
int ExtractToMemory(unzFile zip, const StoredEntry& entry, void* buffer, std::uint32_t length);

}  // namespace veltran
