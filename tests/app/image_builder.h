// Firmware images made on the fly for the tests: a body of filler bytes with the identification
// header placed where each form keeps it.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_files.h"

namespace veltran::testing {

struct HeaderFields {
  std::string_view ident = "BRELMONTCDW/DVD GA-W837C";  // 24 characters
  std::string_view revision = "NB01";
  std::uint8_t blockSizeKB = 32;
  std::uint8_t blockCount = 4;
  std::uint8_t type = 1;
  std::string_view prefix = "NB ";
};

inline std::vector<std::uint8_t> HeaderBytes(const HeaderFields& fields) {
  std::vector<std::uint8_t> header(35, ' ');
  std::memcpy(header.data(), fields.ident.data(), std::min<std::size_t>(24, fields.ident.size()));
  std::memcpy(header.data() + 24, fields.revision.data(),
              std::min<std::size_t>(4, fields.revision.size()));
  header[28] = fields.blockSizeKB;
  header[29] = fields.blockCount;
  header[30] = fields.type;
  header[31] = 0;
  std::memcpy(header.data() + 32, fields.prefix.data(),
              std::min<std::size_t>(3, fields.prefix.size()));
  return header;
}

inline std::vector<std::uint8_t> Filler(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::minstd_rand random(7);
  // Never 0xFF, so that no trailer reads as the fallback marker by accident.
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random() % 0xFF);
  return bytes;
}

inline void Place(std::vector<std::uint8_t>& image, std::size_t offset,
                  const std::vector<std::uint8_t>& bytes) {
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Header 48 bytes before the end.
inline std::vector<std::uint8_t> TrailerImage(std::size_t size, const HeaderFields& fields) {
  auto image = Filler(size);
  Place(image, size - 48, HeaderBytes(fields));
  return image;
}

// A trailer starting with 0xFF, the header 65,584 bytes before the end.
inline std::vector<std::uint8_t> FallbackImage(std::size_t size, const HeaderFields& fields) {
  auto image = Filler(size);
  std::fill(image.end() - 65536, image.end(), 0xFF);
  Place(image, size - 65584, HeaderBytes(fields));
  return image;
}

// The signature at 0xBF00 and the header behind it.
inline std::vector<std::uint8_t> FixedHeaderImage(std::size_t size, const HeaderFields& fields) {
  auto image = Filler(size);
  Place(image, 0xBF00, {0x05, 0x80, 0x00, 0x32, 0x12, 0x34, 0x56, 0x78});
  Place(image, 0xBF08, HeaderBytes(fields));
  return image;
}

}  // namespace veltran::testing
