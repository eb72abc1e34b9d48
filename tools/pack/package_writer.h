// Assembles a package: the launcher's bytes followed by a zip of the image and the tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veltran::pack {

using Bytes = std::vector<unsigned char>;

struct ArchiveMember {
  std::string name;  // stored as is: no folder part
  Bytes data;
  std::uint32_t dosDateTime = 0;
};

// A zip archive whose offsets count from its own first byte: entries deflated, made by an
// MS-DOS host (version 2.0), archive attribute only, no comment. Empty on failure.
Bytes BuildArchive(const std::vector<ArchiveMember>& members);

// The DOS date and time of a file's last change, in local time; 1980-01-01 when earlier.
std::uint32_t DosDateTimeOf(const std::string& path);

}  // namespace veltran::pack
