// TAboutForm: the About box, created at start and shown modally over the main window.
#pragma once

#include <windows.h>

#include "window_handles.h"

namespace veltran::win32 {

inline constexpr wchar_t kAboutClass[] = L"TAboutForm";

class TAboutForm {
 public:
  TAboutForm(HINSTANCE instance, HWND owner, HFONT font);
  TAboutForm(const TAboutForm&) = delete;
  TAboutForm& operator=(const TAboutForm&) = delete;

  // Returns once "&OK" or the close box has closed the box; the owner is disabled meanwhile.
  void ShowModal();
  HWND window() const { return window_.get(); }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void CreateElements(HINSTANCE instance, HFONT font);
  void CloseBox();

  HWND owner_;
  UniqueWindow window_;
  UniqueIcon icon_;
  bool shown_ = false;
};

}  // namespace veltran::win32
