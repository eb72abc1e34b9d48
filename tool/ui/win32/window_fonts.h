// The window's fonts. Sizes are pixels: the window does not scale.
#pragma once

#include <windows.h>

#include <string_view>

#include "window_handles.h"

namespace veltran::win32 {

struct FontChoice {
  const wchar_t* face;
  int pixels;  // character height
  bool bold;
};

UniqueGdiObject MakeFont(const FontChoice& wanted);

// The font of `wanted`, or where `text` would be wider than `width` in it (a system whose face is
// wider, or that has another face in its place), the largest smaller one that it fits, down to
// kSmallestFittedPixels.
UniqueGdiObject FontFittingWidth(HDC dc, const FontChoice& wanted, std::wstring_view text,
                                 int width);
inline constexpr int kSmallestFittedPixels = 6;

// How wide `text` is in `font` on `dc`.
int TextWidth(HDC dc, HGDIOBJ font, std::wstring_view text);

}  // namespace veltran::win32
