// Header reading, both derivations and the rules over arbitrary file contents: nothing may read
// out of bounds, and an accepted image must describe a layout the download can send.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto read = veltran::ReadImageBytes(std::span(data, size));
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
