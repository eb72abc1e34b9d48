// On Windows the platform id picks the back end: pass-through on the NT family, ASPI elsewhere.
#include <memory>

#include "drive/aspi_win.h"
#include "drive/passthrough_win.h"

namespace veltran {

std::unique_ptr<ScsiBackend> MakeHostBackend(std::uint32_t platformId) {
  if (platformId == VER_PLATFORM_WIN32_NT) return std::make_unique<PassThroughBackend>();
  return std::make_unique<AspiBackend>();
}

}  // namespace veltran
