// "inspect --json": the image record as the flash tool derives it, as one JSON document.
#pragma once

#include <string>

#include "app/image_file.h"

namespace veltran::pack {

inline constexpr int kInspectJsonFormat = 1;

// The document, with a final line break. Bytes of the image's text fields that are not printable
// ASCII, and the backslash, are written as \xNN, as the text form writes them.
std::string InspectionJson(const std::string& path, const ImageInspection& inspection);

}  // namespace veltran::pack
