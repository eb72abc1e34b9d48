#include "window_fonts.h"

namespace veltran::win32 {

UniqueGdiObject MakeFont(const FontSpec& spec) {
  return UniqueGdiObject(CreateFontW(-spec.pixels, 0, 0, 0, spec.bold ? FW_BOLD : FW_NORMAL, FALSE,
                                     FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                     DEFAULT_PITCH | FF_DONTCARE, spec.face));
}

int TextWidth(HDC dc, HGDIOBJ font, std::wstring_view text) {
  const HGDIOBJ previous = SelectObject(dc, font);
  SIZE size{};
  const BOOL measured =
      GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
  SelectObject(dc, previous);
  return measured ? static_cast<int>(size.cx) : 0;
}

UniqueGdiObject FontFittingWidth(HDC dc, const FontSpec& spec, std::wstring_view text, int width) {
  FontSpec trial = spec;
  UniqueGdiObject font = MakeFont(trial);
  while (trial.pixels > kSmallestFittedPixels && TextWidth(dc, font.get(), text) > width) {
    --trial.pixels;
    font = MakeFont(trial);
  }
  return font;
}

}  // namespace veltran::win32
