#include "window_fonts.h"

namespace veltran::win32 {

UniqueGdiObject MakeFont(const FontChoice& wanted) {
  return UniqueGdiObject(CreateFontW(-wanted.pixels, 0, 0, 0, wanted.bold ? FW_BOLD : FW_NORMAL,
                                     FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                     DEFAULT_PITCH | FF_DONTCARE, wanted.face));
}

int TextWidth(HDC dc, HGDIOBJ font, std::wstring_view text) {
  const HGDIOBJ previous = SelectObject(dc, font);
  SIZE size{};
  const BOOL measured =
      GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
  SelectObject(dc, previous);
  return measured ? static_cast<int>(size.cx) : 0;
}

UniqueGdiObject FontFittingWidth(HDC dc, const FontChoice& wanted, std::wstring_view text,
                                 int width) {
  FontChoice trial = wanted;
  UniqueGdiObject font = MakeFont(trial);
  while (trial.pixels > kSmallestFittedPixels && TextWidth(dc, font.get(), text) > width) {
    --trial.pixels;
    font = MakeFont(trial);
  }
  return font;
}

}  // namespace veltran::win32
