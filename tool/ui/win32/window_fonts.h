// The window's fonts. Sizes are pixels: the window does not scale.
#pragma once

#include <windows.h>

#include "window_handles.h"

namespace veltran::win32 {

struct FontSpec {
  const wchar_t* face;
  int pixels;  // character height
  bool bold;
};

UniqueGdiObject MakeFont(const FontSpec& spec);

}  // namespace veltran::win32
