#include "window_fonts.h"

namespace veltran::win32 {

UniqueGdiObject MakeFont(const FontSpec& spec) {
  return UniqueGdiObject(CreateFontW(-spec.pixels, 0, 0, 0, spec.bold ? FW_BOLD : FW_NORMAL, FALSE,
                                     FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                     DEFAULT_PITCH | FF_DONTCARE, spec.face));
}

}  // namespace veltran::win32
