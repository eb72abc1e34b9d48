// Header reading, both derivations and the rules over arbitrary file contents: nothing may read
// out of bounds, and an accepted image must describe a layout the download can send.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "app/image_file.h"
#include "app/rules.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckAccepted(const veltran::ImageRecord& record) {
  using veltran::kLargestBlockKB;
  Require(record.ImageSize > 0);
  if (record.Image64K) return;
  Require(record.CommandCount >= 1);
  Require(record.BlockSizeKB <= kLargestBlockKB);
  if (record.FixedHeaderImage) {
    Require(std::int64_t{record.CommandCount} * 32768 <= record.ImageSize);
    return;
  }
  Require(record.LastBlockKB <= kLargestBlockKB);
  Require(record.BlockSizeKB > 0 || record.CommandCount == 1);
  Require(std::int64_t{record.BlockSizeKB} * 1024 * (record.CommandCount - 1) +
              record.LastBlockKB * 1024 ==
          record.ImageSize);
}

void Put(std::vector<std::uint8_t>& file, std::int64_t offset, std::span<const std::uint8_t>& rest,
         std::size_t length) {
  length = std::min(length, rest.size());
  if (offset >= 0 && static_cast<std::size_t>(offset) + length <= file.size()) {
    std::copy_n(rest.begin(), length, file.begin() + offset);
  }
  rest = rest.subspan(length);
}

// An odd first byte describes a file instead of being one: its size, a filler byte, and the
// bytes at the signature, the trailer and the header 64 KB before it. Short inputs so reach every
// place a header is read from.
std::vector<std::uint8_t> Described(std::span<const std::uint8_t> input) {
  if (input.size() < 5) return {input.begin(), input.end()};
  const std::size_t size =
      (std::size_t{input[1]} << 16 | std::size_t{input[2]} << 8 | input[3]) % (3 * 65536 + 1);
  std::vector<std::uint8_t> file(size, input[4]);
  auto rest = input.subspan(5);
  const auto length = static_cast<std::int64_t>(size);
  Put(file, veltran::kSignatureOffset, rest, 43);
  Put(file, length - veltran::kTrailerSize, rest, 48);
  Put(file, length - veltran::kFallbackDistance, rest, 35);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span input(data, size);
  const std::vector<std::uint8_t> file =
      size > 0 && data[0] % 2 == 1 ? Described(input) : std::vector(input.begin(), input.end());
  const auto read = veltran::ReadImageBytes(file);
  Require(read.status == veltran::ImageReadStatus::kRead);

  veltran::ImageRecord automatic;
  const auto outcome = veltran::DeriveAutomaticLoad(automatic, read);
  if (outcome.status == veltran::LoadStatus::kLoaded)
    CheckAccepted(automatic);
  else
    Require(automatic.ImageSize == 0 && !automatic.ImagePresent && outcome.message);

  veltran::ImageRecord manual;
  manual.BlockSizeKB = 32;
  manual.CommandCount = 2;
  manual.LastBlockKB = 32;
  if (veltran::DeriveManualOpen(manual, read).status == veltran::LoadStatus::kLoaded) {
    CheckAccepted(manual);
  }

  veltran::DriveIdentity drive;
  drive.DriveIdent = automatic.ImageIdent;
  drive.DriveRevision.Assign(std::string_view("HB0\xFF"));
  drive.DrivePrefix = automatic.ImagePrefix;
  const auto verdict = veltran::JudgeManualOpen(automatic, drive, size % 2 == 0);
  Require(verdict.accepted != verdict.resetFields);
  (void)veltran::DriveFits(drive, automatic);
  (void)veltran::LayoutText(automatic);
  return 0;
}
