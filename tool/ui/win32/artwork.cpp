#include "artwork.h"

#include "window_handles.h"

namespace veltran::win32 {

Pixels LoadPixels(HINSTANCE instance, int resourceId) {
  const UniqueGdiObject bitmap(
      LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  DIBSECTION dib{};
  if (!bitmap || GetObjectW(bitmap.get(), sizeof dib, &dib) != sizeof dib ||
      dib.dsBm.bmBitsPixel != 24 || dib.dsBm.bmBits == nullptr || dib.dsBm.bmHeight <= 0) {
    return {};
  }
  Pixels out;
  out.width = dib.dsBm.bmWidth;
  out.height = dib.dsBm.bmHeight;
  out.rgb.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
  const auto* bits = static_cast<const unsigned char*>(dib.dsBm.bmBits);
  const auto stride = static_cast<std::size_t>(dib.dsBm.bmWidthBytes);
  for (int y = 0; y < out.height; ++y) {
    // A DIB section made from a resource is stored bottom row first.
    const unsigned char* row = bits + static_cast<std::size_t>(out.height - 1 - y) * stride;
    for (int x = 0; x < out.width; ++x) {
      const unsigned char* p = row + static_cast<std::size_t>(x) * 3;
      out.rgb[static_cast<std::size_t>(y * out.width + x)] =
          (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
    }
  }
  return out;
}

void DrawPixels(HDC dc, int x, int y, const Pixels& pixels) {
  if (pixels.rgb.empty()) return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = pixels.width;
  info.bmiHeader.biHeight = -pixels.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(pixels.width), static_cast<DWORD>(pixels.height),
                    0, 0, 0, static_cast<UINT>(pixels.height), pixels.rgb.data(), &info,
                    DIB_RGB_COLORS);
}

Pixels ComposeOver(const Pixels& background, int left, int top, const Pixels* picture,
                   std::uint32_t outside) {
  Pixels out;
  out.width = picture != nullptr && picture->width > 0 ? picture->width : 26;
  out.height = picture != nullptr && picture->height > 0 ? picture->height : 25;
  out.rgb.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
  const bool drawn = picture != nullptr && !picture->rgb.empty();
  const std::uint32_t key = drawn ? picture->at(0, picture->height - 1) : 0;
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      std::uint32_t colour =
          background.contains(left + x, top + y) ? background.at(left + x, top + y) : outside;
      if (drawn && picture->at(x, y) != key) colour = picture->at(x, y);
      out.rgb[static_cast<std::size_t>(y * out.width + x)] = colour;
    }
  }
  return out;
}

}  // namespace veltran::win32
