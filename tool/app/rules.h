// Whether a loaded image may be written to a drive: the automatic drive choice and the rules of
// the manual open. Pure decisions over the image record and the drive identity.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/image_file.h"
#include "drive/identify.h"

namespace veltran {

inline constexpr std::string_view kComVariantText = "You Must Download R351COM Version !!";
inline constexpr std::string_view kIncompatibleText =
    "This Firmware is not compatible with the selected drive.";
inline constexpr std::string_view kIncompatiblePrefixText =
    "This Firmware is not compatible with the selected drive.\n"
    "Contact your system manufacturer for information\n"
    "on firmware updates available for this drive.";
inline constexpr std::string_view kOldVersionText = "Old Version Opened!!";
inline constexpr std::string_view kNotOpenText = "Not Open";

// A drive of the one model whose revision numbering differs from its images' is taken as fitting
// when the second revision characters differ.
bool OemRevisionMismatch(const DriveIdentity& drive, const ImageRecord& image);

// The automatic drive choice's test. The "-NOCHECK" option and boot mode do not relax it.
bool DriveFits(const DriveIdentity& drive, const ImageRecord& image);

// The drive for which the automatic image is given up: it is updated only by a manual open.
bool IsGivenUpDrive(const DriveIdentity& drive);

// Drops the automatic image for that drive: no image is loaded any more.
void GiveUpAutomaticImage(ImageRecord& image);

// True when the drive's revision is newer than the image's, compared as the drive reports it.
bool DriveRevisionNewer(const DriveIdentity& drive, const ImageRecord& image);

struct ManualVerdict {
  bool accepted = false;
  std::optional<std::string> message;  // the error box, when one is shown
  bool resetFields = false;            // the fields go back to empty and "Not Open"
  bool oldVersionWarning = false;      // accepted, with "Old Version Opened!!"
};

// The manual open's rules, from the COM-variant rule to the downgrade warning, for an image the
// derivation accepted. A refusal also needs ImageSize set to 0 by the caller.
ManualVerdict JudgeManualOpen(const ImageRecord& image, const DriveIdentity& drive,
                              bool noCheckOption);

// The texts of the five fields once an image is accepted.
struct ImageFields {
  std::string modelName;
  std::string oldVersion;
  std::string newVersion;
  std::string downloadFile;
  std::string status;
};
// After the automatic load: the file as ImagePath names it, status "READY".
ImageFields AutomaticLoadFields(const ImageRecord& image, const DriveIdentity& drive);
// After an accepted manual open: the display name, status "Ready".
ImageFields ManualOpenFields(const ImageRecord& image, const DriveIdentity& drive);
// The fields after a refusal by the rules.
ImageFields ResetFields();

}  // namespace veltran
