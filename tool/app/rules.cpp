#include "app/rules.h"

#include <algorithm>

namespace veltran {
namespace {

constexpr std::string_view kRevisionModel = "HALDEN  DVD-ROM KQ-304B ";
constexpr std::string_view kGivenUpModel = "DARLOWE CDRW/DVD PT-771B";
constexpr std::string_view kGivenUpRevision = "R350";
constexpr std::string_view kComVariantRevision = "R351";

// Field texts end at the first NUL, as the window shows a character array.
template <std::size_t N>
std::string FieldText(const FixedText<N>& text) {
  const std::string_view chars = text.view();
  return std::string(chars.substr(0, std::min(chars.find('\0'), chars.size())));
}

ManualVerdict Refusal(std::string_view message) {
  return {false, std::string(message), true, false};
}

}  // namespace

bool OemRevisionMismatch(const DriveIdentity& drive, const ImageRecord& image) {
  return drive.DriveIdent == kRevisionModel &&
         drive.DriveRevision.view()[1] != image.ImageRevision.view()[1];
}

bool DriveFits(const DriveIdentity& drive, const ImageRecord& image) {
  const bool sameModel = drive.DriveIdent == image.ImageIdent || OemRevisionMismatch(drive, image);
  const bool prefixFits = image.ImageType != 4 || drive.DrivePrefix == image.ImagePrefix;
  return sameModel && prefixFits;
}

bool IsGivenUpDrive(const DriveIdentity& drive) {
  return drive.DriveIdent == kGivenUpModel && drive.DriveRevision == kGivenUpRevision;
}

void GiveUpAutomaticImage(ImageRecord& image) {
  image.ImageSize = 0;
  image.ImagePresent = false;
  image.Image64K = false;
}

bool DriveRevisionNewer(const DriveIdentity& drive, const ImageRecord& image) {
  // The first character names the firmware line, not its age; a reported prefix covers two.
  const std::size_t from = drive.DrivePrefixReported ? 2 : 1;
  const std::string_view ours = drive.DriveRevision.view().substr(from);
  const std::string_view theirs = image.ImageRevision.view().substr(from);
  return std::lexicographical_compare(
      theirs.begin(), theirs.end(), ours.begin(), ours.end(),
      [](char a, char b) { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); });
}

ManualVerdict JudgeManualOpen(const ImageRecord& image, const DriveIdentity& drive,
                              bool noCheckOption) {
  if (drive.ComVariantDrive && !(image.ImageRevision == kComVariantRevision)) {
    return Refusal(kComVariantText);
  }
  if (!(drive.DriveIdent == image.ImageIdent) && !noCheckOption) return Refusal(kIncompatibleText);
  if (!(drive.DrivePrefix == image.ImagePrefix) && !noCheckOption && image.ImageType == 4 &&
      !drive.BootModeDrive) {
    return Refusal(kIncompatiblePrefixText);
  }
  ManualVerdict verdict{true, std::nullopt, false, false};
  if (!drive.BootModeDrive && DriveRevisionNewer(drive, image)) {
    verdict.message = std::string(kOldVersionText);
    verdict.oldVersionWarning = true;
  }
  return verdict;
}

ImageFields AutomaticLoadFields(const ImageRecord& image, const DriveIdentity& drive) {
  return {FieldText(image.ImageIdent), FieldText(drive.DriveRevision),
          FieldText(image.ImageRevision), DownloadFileText(kAutorunName, image.ImageSize), "READY"};
}

ImageFields ManualOpenFields(const ImageRecord& image, const DriveIdentity& drive) {
  return {FieldText(image.ImageIdent), FieldText(drive.DriveRevision),
          FieldText(image.ImageRevision),
          DownloadFileText(DisplayName(image.ImagePath), image.ImageSize), "Ready"};
}

ImageFields ResetFields() { return {"", "", "", std::string(kNotOpenText), ""}; }

}  // namespace veltran
