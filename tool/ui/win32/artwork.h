// The pictures built into the program, as pixel arrays the window composes itself: the buttons
// are drawn over the background with their key colour left out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace veltran::win32 {

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> rgb;  // 0x00RRGGBB, top row first

  std::uint32_t at(int x, int y) const {
    return rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x)];
  }
  bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

// Reads a bitmap resource; an empty picture when it is missing or not 24-bit.
Pixels LoadPixels(HINSTANCE instance, int resourceId);

// Puts `pixels` on `dc` at (x, y), 1:1.
void DrawPixels(HDC dc, int x, int y, const Pixels& pixels);

// `picture` over the part of `background` that lies under (left, top); the picture's pixels of
// its bottom-left colour let the background show, as do pixels outside the background (`outside`).
Pixels ComposeOver(const Pixels& background, int left, int top, const Pixels* picture,
                   std::uint32_t outside);

}  // namespace veltran::win32
