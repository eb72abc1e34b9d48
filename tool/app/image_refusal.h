// Which of the load-time rules refused an image, so that a report can name the rule and not only
// show the message every refusal shares.
#pragma once

#include <string_view>

#include "app/image_file.h"

namespace veltran {

// A short name for reports: "none", "not-opened", "size-mismatch", ...
std::string_view ImageRefusalName(ImageRefusal refusal);

// The trailer form's layout limits, the first that fails; LastBlockKB is computed on the way.
ImageRefusal TrailerLayoutRefusal(ImageRecord& record);

// The rule that refused an image read as `read` and derived as `derived` by the automatic load.
ImageRefusal RefusalOf(const ImageFileRead& read, const ImageRecord& derived);

}  // namespace veltran
